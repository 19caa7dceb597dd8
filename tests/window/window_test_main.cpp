#include "window_test_main.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <vector>

namespace quelvan::test {

std::map<std::string, WindowTestFactory>& WindowTestRegistry() {
    static std::map<std::string, WindowTestFactory> registry;
    return registry;
}

}  // namespace quelvan::test

// window_tests CLASS [Qt Test arguments...]; without a class, every class in turn.
int main(int argc, char** argv) {
    // What the programs remember between starts goes to a folder of this run, never to the
    // user's own configuration (the program started by the start-up tests inherits it).
    QTemporaryDir config;
    if (config.isValid()) qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication app(argc, argv);
    QTEST_SET_MAIN_SOURCE_PATH
    auto& registry = quelvan::test::WindowTestRegistry();
    std::vector<char*> args{argv[0]};
    std::vector<std::string> classes;
    if (argc > 1 && argv[1][0] != '-') {
        if (!registry.count(argv[1])) {
            std::fprintf(stderr, "no window test class %s\n", argv[1]);
            return 2;
        }
        classes.push_back(argv[1]);
        for (int i = 2; i < argc; ++i) args.push_back(argv[i]);
    } else {
        for (const auto& [name, factory] : registry) classes.push_back(name);
        for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    }
    int failures = 0;
    for (const std::string& name : classes) {
        std::unique_ptr<QObject> test = registry[name]();
        failures += QTest::qExec(test.get(), static_cast<int>(args.size()), args.data());
    }
    return failures == 0 ? 0 : 1;
}
