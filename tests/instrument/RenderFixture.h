#pragma once
// Renders through the command-line host into a temporary folder, without a chip database unless
// one is named.

#include "CommandLine.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace commandline {

// c64render hands the module no chip database unless --chipdb names one (a missing one is an
// error), so nothing needs to be added.
inline const std::string kNoDatabase = "";

class RenderFixture : public ::testing::Test
{
protected:
    // Renders `options` (plus -o) and reads the result.
    Wav renderWav(const std::string& options, const std::string& database = "")
    {
        const std::string wav = dir / "out.wav";
        const std::string chips = database.empty() ? kNoDatabase : " --chipdb " + quoted(database);
        const CommandResult r = run(render(options + chips + " -o " + quoted(wav)));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        Wav w;
        EXPECT_TRUE(readWav(wav, w)) << options;
        return w;
    }

    fixtures::TempDir dir;
};

}  // namespace commandline
