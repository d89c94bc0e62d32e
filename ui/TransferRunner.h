#pragma once

#include <QObject>

#include <atomic>
#include <exception>
#include <functional>

// Runs the window's device transfers on a worker thread, one at a time. Meanwhile the window's
// thread keeps handling paint, timer and window events, but no user input: clicks and keys are
// dropped, not kept for later, so a command still blocks the whole window as it did when the
// transfer ran on the window's own thread. The wait cursor shows for as long as the transfer runs.
class TTransferRunner : public QObject {
  Q_OBJECT
public:
  explicit TTransferRunner(QObject* parent = nullptr);
  ~TTransferRunner() override;

  TTransferRunner(const TTransferRunner&) = delete;
  TTransferRunner& operator=(const TTransferRunner&) = delete;

  // Runs `work` on a worker thread and returns once it has ended. An exception that leaves
  // `work` is thrown again here, on the window's thread.
  void Run(const std::function<void()>& work);
  bool Running() const { return FRunning; }

  // Runs `task` on the window's thread and waits for it: a question or a message the transfer
  // needs. The user can answer it: input and the normal cursor are back while it runs. Called on
  // the window's thread, it just runs `task`.
  void OnWindowThread(const std::function<void()>& task);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void Block(bool on);

  bool FRunning = false;
  bool FBlocking = false;        // user input dropped and the wait cursor shown
  std::atomic<bool> FDone{true}; // set by the worker as its last step
};
