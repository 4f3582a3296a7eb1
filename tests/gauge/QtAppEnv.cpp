// One QApplication for the whole test program, with the team's font mapping.
#include <QApplication>
#include <gtest/gtest.h>

#include "platform/draw/Fonts.h"

namespace
{

class QtAppEnv : public testing::Environment
{
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "telvar-test";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        InstallFontSubstitutions();
    }
    void TearDown() override
    {
        delete app_;
        app_ = nullptr;
    }

private:
    QApplication* app_ = nullptr;
};

[[maybe_unused]] testing::Environment* const g_env = testing::AddGlobalTestEnvironment(new QtAppEnv);

} // namespace
