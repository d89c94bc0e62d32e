#include "ByteBlock.h"

#include <new>

int32_t TByteBlock::FAllocationsBeforeFailure = -1;

TByteBlock::TByteBlock(size_t size) : FData(Allocate(size)) {}

TByteBlock::~TByteBlock() {
  Free(FData);
}

uint8_t* TByteBlock::Release() {
  uint8_t* data = FData;
  FData = nullptr;
  return data;
}

uint8_t* TByteBlock::Allocate(size_t size) {
  if (FAllocationsBeforeFailure == 0) {
    FAllocationsBeforeFailure = -1;
    return nullptr;
  }
  if (FAllocationsBeforeFailure > 0) {
    --FAllocationsBeforeFailure;
  }
  // At least one byte, so that an empty request still yields a block to free.
  return new (std::nothrow) uint8_t[size == 0 ? 1 : size]();
}

void TByteBlock::Free(uint8_t* block) {
  delete[] block;
}

void TByteBlock::FailAllocation(int32_t index) {
  FAllocationsBeforeFailure = index < 0 ? -1 : index;
}

bool TByteBlock::FailurePending() {
  return FAllocationsBeforeFailure >= 0;
}
