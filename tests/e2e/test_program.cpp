// The command line, before any server starts.
#include <gtest/gtest.h>

#include "support/ServerProcess.h"

namespace murmur::test {
namespace {

using Args = ServerProcess::ExactArguments;

std::string standardOutput(const ServerProcess& program) {
    std::string out;
    for (const auto& line : program.lines()) out += line + "\n";
    return out;
}

TEST(CommandLine, HelpPrintsUsageAndSucceeds) {
    ServerProcess program(Args{}, {"--help"});
    EXPECT_EQ(program.waitForExit(), 0) << program.transcript();
    EXPECT_EQ(standardOutput(program).rfind("Usage: murmur-server", 0), 0u) << program.transcript();
    EXPECT_EQ(program.errors(), "");
}

TEST(CommandLine, VersionPrintsNameAndVersion) {
    ServerProcess program(Args{}, {"--version"});
    EXPECT_EQ(program.waitForExit(), 0) << program.transcript();
    EXPECT_EQ(standardOutput(program), "murmur-server 1.2.0\n");
}

TEST(CommandLine, UnknownOptionIsAUsageError) {
    ServerProcess program(Args{}, {"--bogus"});
    EXPECT_EQ(program.waitForExit(), 2) << program.transcript();
    EXPECT_EQ(standardOutput(program), "");
    EXPECT_EQ(program.errors(), "murmur-server: unknown option '--bogus'\nTry 'murmur-server --help'.\n");
}

}  // namespace
}  // namespace murmur::test
