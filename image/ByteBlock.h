#pragma once

#include <cstddef>
#include <cstdint>

// A zero-filled block of bytes from the heap. Allocation never throws: a failure leaves the block
// empty, so that the image can report "Out of memory" through its hook and fail cleanly.
class TByteBlock {
public:
  explicit TByteBlock(size_t size);
  ~TByteBlock();

  TByteBlock(const TByteBlock&) = delete;
  TByteBlock& operator=(const TByteBlock&) = delete;

  uint8_t* Get() const { return FData; }
  explicit operator bool() const { return FData != nullptr; }
  // Hands the block to the caller, who frees it with Free.
  uint8_t* Release();

  // Zero-filled block of `size` bytes, nullptr when memory cannot be had.
  static uint8_t* Allocate(size_t size);
  static void Free(uint8_t* block);

  // Fault injection for tests and the fuzz target: the allocation with this index, counted from
  // now (0 = the next one), fails; every other succeeds. A negative index turns failures off.
  static void FailAllocation(int32_t index);
  // True while an injected failure has not happened yet.
  static bool FailurePending();

private:
  uint8_t* FData;
  static int32_t FAllocationsBeforeFailure;
};
