#include "viewer/shell/model/background_work.h"

namespace model {

BackgroundWork::~BackgroundWork() { join_all(); }

void BackgroundWork::start(std::function<void()> work) {
  (void)reap();
  auto worker = std::make_unique<Worker>();
  Worker* w = worker.get();
  workers_.push_back(std::move(worker));
  w->thread = std::thread([w, work = std::move(work)] {
    work();
    w->finished.store(true);
  });
}

std::size_t BackgroundWork::reap() {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if ((*it)->finished.load()) {
      (*it)->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
  return workers_.size();
}

void BackgroundWork::join_all() {
  for (auto& w : workers_) w->thread.join();
  workers_.clear();
}

}  // namespace model
