// Exception checks for the tests: a call that must throw one exception type
// with one code and, when given, exactly one message.
#ifndef EXPECTTHROWS_H
#define EXPECTTHROWS_H

#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <string>

namespace tracetest {

namespace detail {
// Runs f, which must throw an exception of type E with this code and, when
// message is not null, exactly this message.
template <typename E>
void expectThrows(const std::function<void()>& f, int code, const std::string* message) {
    try {
        f();
        ADD_FAILURE() << "no exception; expected " << code
                      << (message != nullptr ? " \"" + *message + "\"" : std::string());
    } catch (const E& e) {
        EXPECT_EQ(code, e.getError());
        if (message != nullptr) {
            EXPECT_EQ(*message, std::string(e.getMessage().c_str(), e.getMessage().length()));
        }
    } catch (const std::exception& e) {
        ADD_FAILURE() << "other exception: " << e.what();
    }
}
}  // namespace detail

// Runs f, which must throw an exception of type E with this code.
template <typename E>
void expectThrows(const std::function<void()>& f, int code) {
    detail::expectThrows<E>(f, code, nullptr);
}

// Runs f, which must throw an exception of type E with this code and message.
template <typename E>
void expectThrows(const std::function<void()>& f, int code, const std::string& message) {
    detail::expectThrows<E>(f, code, &message);
}

}  // namespace tracetest

#endif
