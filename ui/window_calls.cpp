#include "ui/window_calls.h"

#include <QCoreApplication>
#include <QEvent>

namespace pz4::ui {
namespace {

const QEvent::Type kRunPendingEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

WindowCalls::WindowCalls(QObject* parent)
    : QObject(parent), windowThread_(std::this_thread::get_id()) {}

void WindowCalls::call(const std::function<void()>& fn) {
    if (std::this_thread::get_id() == windowThread_) {
        fn();
        return;
    }
    bool done = false;
    std::unique_lock lock(mutex_);
    pending_.push_back(Request{fn, &done});
    lock.unlock();
    wake();
    lock.lock();
    finished_.wait(lock, [&] { return done; });
}

void WindowCalls::post(std::function<void()> fn) {
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(Request{std::move(fn), nullptr});
    }
    wake();
}

void WindowCalls::wake() {
    // The event carries nothing: the work waits in pending_.
    QCoreApplication::postEvent(this, new QEvent(kRunPendingEvent));
}

void WindowCalls::customEvent(QEvent*) {
    runPending();
}

void WindowCalls::runPending() {
    for (;;) {
        std::unique_lock lock(mutex_);
        if (pending_.empty()) {
            return;
        }
        Request request = std::move(pending_.front());
        pending_.pop_front();
        lock.unlock();
        request.fn();
        if (request.done != nullptr) {
            lock.lock();
            *request.done = true;
            finished_.notify_all();
        }
    }
}

}  // namespace pz4::ui
