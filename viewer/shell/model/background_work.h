// Threads for the slow parts of the dialogs (the camera search, the
// connection test, the walk over the recordings), so that the windows keep
// painting and the cameras keep playing while they run.
//
// A dialog that closes while its work still runs does not wait for it: it
// cancels the work where the work can be cancelled and leaves the rest to
// finish on its own. The thread still belongs to this object, which lives as
// long as the main window: finished threads are joined each time new work is
// started, and every thread is joined when the object goes.
//
// The work reports back by posting to the user-interface thread (the caller
// decides how); it never touches a window itself.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace model {

class BackgroundWork {
 public:
  BackgroundWork() = default;
  // Joins every thread (waits for work still running).
  ~BackgroundWork();
  BackgroundWork(const BackgroundWork&) = delete;
  BackgroundWork& operator=(const BackgroundWork&) = delete;

  // Runs work on a new thread. Joins the threads of work that has returned
  // first. The thread that owns this object (the user-interface thread).
  void start(std::function<void()> work);

  // Joins the threads of work that has returned; returns how many still run.
  // Owner's thread.
  std::size_t reap();

  // Waits until every piece of work has returned and joins the threads.
  // Owner's thread.
  void join_all();

 private:
  struct Worker {
    std::thread thread;
    std::atomic<bool> finished{false};
  };
  std::list<std::unique_ptr<Worker>> workers_;
};

// Where a piece of work leaves its outcome for the window that started it.
// The window sets the delivery on the user-interface thread and clears it
// when it closes; the work's posted message calls deliver() there, which
// does nothing once the window has gone. Shared by the window and the work.
class Handover {
 public:
  // User-interface thread.
  void set_delivery(std::function<void()> deliver) { deliver_ = std::move(deliver); }
  void clear_delivery() { deliver_ = nullptr; }
  // User-interface thread: runs the delivery if the window still wants it
  // (a copy: the delivery may clear itself, or close the window).
  void deliver() {
    if (auto d = deliver_) d();
  }

  // The window closed: the work should stop as soon as it can. Any thread.
  void cancel() { cancelled_.store(true); }
  bool cancelled() const { return cancelled_.load(); }

 private:
  std::function<void()> deliver_;
  std::atomic<bool> cancelled_{false};
};

}  // namespace model
