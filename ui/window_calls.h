// Runs work on the window thread on behalf of another thread: either waiting until the window
// thread has done it, or only handing it over.
#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace pz4::ui {

class WindowCalls : public QObject {
  public:
    explicit WindowCalls(QObject* parent = nullptr);

    // Runs fn on the window thread and returns when it has run. Called on the window thread
    // itself, it runs fn at once.
    void call(const std::function<void()>& fn);
    // Hands fn to the window thread and returns at once.
    void post(std::function<void()> fn);

  protected:
    void customEvent(QEvent* e) override;

  private:
    struct Request {
        std::function<void()> fn;
        bool* done;  // null for posted work
    };

    void wake();
    void runPending();

    const std::thread::id windowThread_;
    // Every hand-over goes through this mutex, so the work and its data reach the window
    // thread in order, and its completion reaches the caller.
    std::mutex mutex_;
    std::condition_variable finished_;
    std::deque<Request> pending_;
};

}  // namespace pz4::ui
