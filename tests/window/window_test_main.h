#pragma once
// The window tests are one program: each test class registers itself here, and the program
// runs the class named on its command line (CTest starts one process per class, so every
// class gets a fresh application state and the classes run in parallel).

#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace quelvan::test {

using WindowTestFactory = std::function<std::unique_ptr<QObject>()>;

std::map<std::string, WindowTestFactory>& WindowTestRegistry();

struct WindowTestRegistration {
    WindowTestRegistration(const char* name, WindowTestFactory factory) {
        WindowTestRegistry()[name] = std::move(factory);
    }
};

}  // namespace quelvan::test

// Registers a Qt Test class of this program under its class name.
#define QUELVAN_WINDOW_TEST(TestClass)                                            \
    static const ::quelvan::test::WindowTestRegistration TestClass##Registration{ \
        #TestClass, [] { return std::make_unique<TestClass>(); }};
