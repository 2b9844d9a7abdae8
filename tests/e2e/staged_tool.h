// A test of the shipped removal tool: a copy of its build in a folder of the test's own, and a
// drive E: without override files.
#pragma once
#include "e2e/tool_process.h"
#include "support/fixture_drive.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>

class StagedToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        clearFixtureDrive();
        const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        tool = stageTool(std::wstring(name, name + strlen(name)), PARVANE_TOOL_FILE);
        ASSERT_FALSE(tool.empty()) << "cannot stage " << builtToolPath().c_str();
    }
    void TearDown() override { clearFixtureDrive(); }

    std::wstring tool;
};
