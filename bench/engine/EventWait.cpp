#include "bench/engine/EventWait.h"

#include <QEventLoop>
#include <QTimer>

bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
              std::chrono::milliseconds poll)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    look.start(poll);
    limit.start(timeout);
    loop.exec();
    return done();
}
