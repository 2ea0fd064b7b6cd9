#pragma once

#include <QCoreApplication>
#include <QTimer>

// QCoreApplication::exit() leaves every running event loop, and turns away every loop started
// after it until the application's own loop has run. A test that calls it on purpose runs that
// loop for a moment afterwards, so that later waits work again.
inline void clearExitRequest()
{
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}
