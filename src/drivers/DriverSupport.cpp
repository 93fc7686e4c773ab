#include "drivers/DriverSupport.h"

#include <QCoro/QCoroTimer>
#include <QTimer>

namespace quorvex {

QCoro::Task<> letEventsRun()
{
    QTimer timer;
    timer.setSingleShot(true);
    timer.start(0);
    co_await timer;
}

} // namespace quorvex
