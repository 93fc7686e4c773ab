#pragma once
// Runs a driver coroutine to its end on the test's event loop and gives
// back its value or rethrows its error (QCoro::waitFor alone would keep
// waiting when the coroutine ends in an exception).
#include <QCoro/QCoroTask>
#include <exception>

namespace line2test {

template<class T>
QCoro::Task<T> catching(QCoro::Task<T> task, std::exception_ptr *error)
{
    try {
        co_return co_await std::move(task);
    } catch (...) {
        *error = std::current_exception();
    }
    co_return T{};
}

template<class T>
T run(QCoro::Task<T> task)
{
    std::exception_ptr error;
    T value = QCoro::waitFor(catching(std::move(task), &error));
    if (error)
        std::rethrow_exception(error);
    return value;
}

} // namespace line2test
