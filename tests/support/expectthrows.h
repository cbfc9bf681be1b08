// Exception check returning an assertion result, so that a failure is reported
// at the test's own line:
//     EXPECT_TRUE(throwsError<RYXDIRException>([&] { ... }, kNoConnection));
#ifndef EXPECTTHROWS_H
#define EXPECTTHROWS_H

#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <optional>
#include <string>

namespace tracetest {

// f must throw an exception of type E with this code and, when given, exactly
// this message.
template <typename E>
::testing::AssertionResult throwsError(const std::function<void()>& f, int code,
                                       const std::optional<std::string>& message = {}) {
    const std::string wanted = std::to_string(code) + (message ? " \"" + *message + "\"" : "");
    try {
        f();
    } catch (const E& e) {
        const std::string text(e.getMessage().c_str(), e.getMessage().length());
        if (e.getError() != code || (message && text != *message)) {
            return ::testing::AssertionFailure()
                   << "threw " << e.getError() << " \"" << text << "\"; expected " << wanted;
        }
        return ::testing::AssertionSuccess();
    } catch (const std::exception& e) {
        return ::testing::AssertionFailure()
               << "threw another exception (" << e.what() << "); expected " << wanted;
    }
    return ::testing::AssertionFailure() << "threw nothing; expected " << wanted;
}

}  // namespace tracetest

#endif
