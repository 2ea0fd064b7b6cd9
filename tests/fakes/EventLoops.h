#pragma once

#include <QCoreApplication>
#include <QTimer>

#include <functional>
#include <memory>

// QCoreApplication::exit() leaves every running event loop, and turns away every loop started
// after it until the application's own loop has run. A test that calls it on purpose runs that
// loop for a moment afterwards, so that later waits work again.
inline void clearExitRequest()
{
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

// Calls QCoreApplication::exit() from the event loop as soon as `ready` holds, while the
// returned timer lives.
[[nodiscard]] inline std::unique_ptr<QTimer> exitWhen(std::function<bool()> ready)
{
    auto poll = std::make_unique<QTimer>();
    QObject::connect(poll.get(), &QTimer::timeout, [timer = poll.get(), ready = std::move(ready)] {
        if (!ready())
            return;
        timer->stop();
        QCoreApplication::exit(0);
    });
    poll->start(20);
    return poll;
}
