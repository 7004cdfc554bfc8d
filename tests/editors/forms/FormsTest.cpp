// Runs every registered editor window test in one application.
#include "FormsTest.h"

#include <vector>

namespace {

std::vector<std::function<std::unique_ptr<QObject>()>>& registered()
{
    static std::vector<std::function<std::unique_ptr<QObject>()>> tests;  // filled before main
    return tests;
}

}  // namespace

bool peltra::test::registerFormsTest(std::function<std::unique_ptr<QObject>()> make)
{
    return registered().push_back(std::move(make)), true;
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    int failed = 0;
    for (const auto& make : registered())
        failed += QTest::qExec(make().get(), argc, argv);
    return failed;
}
