#pragma once
// Runs a coroutine to its end in a nested event loop and gives its result,
// or rethrows its error. (QCoro::waitFor never returns when the coroutine
// ends with an exception after it has suspended, so tests use this.)
#include <QCoro/QCoroTask>
#include <QEventLoop>
#include <exception>
#include <optional>

template<typename T> T runTask(QCoro::Task<T> task)
{
    QEventLoop loop;
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> result;
    std::exception_ptr error;
    bool done = false;
    auto body = [&]() -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await task;
                result = true;
            } else {
                result = co_await task;
            }
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
        loop.quit();
    };
    auto running = body();
    if (!done)
        loop.exec();
    if (error)
        std::rethrow_exception(error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*result);
}
