// A minimal test runner for the Qt-free engine tests: TEST_CASE functions, CHECK macros and a
// closing "N passed, N failed" line that ctest's output readers understand.
#pragma once

#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace qtest {

struct Case
{
    const char *name;
    void (*run)();
};

inline std::vector<Case> &cases()
{
    static std::vector<Case> list;
    return list;
}

inline int &failures()
{
    static int count = 0;
    return count;
}

struct Registrar
{
    Registrar(const char *name, void (*run)()) { cases().push_back({name, run}); }
};

template <typename A, typename B>
bool checkEqual(const A &a, const B &b, const char *as, const char *bs, const char *file, int line)
{
    if (a == b)
        return true;
    std::ostringstream out;
    out << a << " != " << b;
    std::fprintf(
        stderr, "%s:%d: CHECK_EQ(%s, %s) failed: %s\n", file, line, as, bs, out.str().c_str());
    ++failures();
    return false;
}

inline bool checkTrue(
    bool value, const char *text, const std::string &context, const char *file, int line)
{
    if (value)
        return true;
    std::fprintf(stderr, "%s:%d: CHECK(%s) failed %s\n", file, line, text, context.c_str());
    ++failures();
    return false;
}

inline int runAll(int argc, char **argv)
{
    int passed = 0;
    int failed = 0;
    for (const Case &test : cases()) {
        if (argc > 1 && std::string(argv[1]) != test.name)
            continue;
        const int before = failures();
        std::fprintf(stderr, "-- %s\n", test.name);
        try {
            test.run();
        } catch (const std::exception &e) {
            std::fprintf(stderr, "%s threw: %s\n", test.name, e.what());
            ++failures();
        }
        if (failures() == before) {
            ++passed;
        } else {
            ++failed;
            std::fprintf(stderr, "FAIL %s\n", test.name);
        }
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}

} // namespace qtest

#define TEST_CASE(name)                                                                            \
    static void name();                                                                            \
    static const qtest::Registrar registrar_##name(#name, name);                                   \
    static void name()

#define CHECK(cond) qtest::checkTrue(static_cast<bool>(cond), #cond, "", __FILE__, __LINE__)
#define CHECK_MSG(cond, context)                                                                   \
    qtest::checkTrue(static_cast<bool>(cond), #cond, context, __FILE__, __LINE__)
#define CHECK_EQ(a, b) qtest::checkEqual((a), (b), #a, #b, __FILE__, __LINE__)

#define QTEST_MAIN()                                                                               \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        return qtest::runAll(argc, argv);                                                          \
    }
