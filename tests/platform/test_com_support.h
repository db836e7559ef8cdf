// A fresh VISTREL_HOME per test case, so each case has its own class registry.
#pragma once

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

class ComHomeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ::setenv("VISTREL_HOME", m_dir.path().toStdString().c_str(), 1);
    }
    void TearDown() override { ::unsetenv("VISTREL_HOME"); }

    std::string Home() const { return m_dir.path().toStdString() + "/"; }
    std::string RegistryText() const
    {
        std::ifstream file(Home() + "Classes.reg", std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }
    // Runs vistrel-regsvr with this case's home; its exit code.
    int RegSvr(const std::string& strArgs) const
    {
        const std::string strCommand =
            "VISTREL_HOME='" + Home() + "' '" VISTREL_REGSVR "' " + strArgs + " >/dev/null 2>&1";
        const int nStatus = std::system(strCommand.c_str());
        return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    }

    QTemporaryDir m_dir;
};
