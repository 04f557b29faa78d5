#include "IncludeRules.h"
#include "TempDirectory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

std::string Describe(const std::vector<IncludeViolation>& violations, const fs::path& root) {
    std::ostringstream out;
    for (const IncludeViolation& violation : violations)
        out << fs::relative(violation.file, root).generic_string() << ":" << violation.line << ": "
            << violation.include << ": " << violation.reason << "\n";
    return out.str();
}

} // namespace

// A small tree with one violation of each kind planted in it: an upward include, a backend header from a
// surface that does not link it, a guarded system header outside its backend, one reached through a backend
// header, and a folder the table does not know.
TEST(IncludeRulesTest, EveryPlantedViolationIsReportedWithItsFileAndLine) {
    TempDirectory tree;
    const fs::path root = fs::weakly_canonical(tree.Path("src"));
    Write(root / "DEPS", "# layers\n"
                         "ring: Util platform/include\n"
                         "Util: platform/include\n"
                         "platform/include:\n"
                         "platform/win: platform/include platform/x11\n"
                         "platform/mf: platform/include platform/win\n"
                         "platform/x11: <xcb/\n");
    Write(root / "platform/include/mfapi.h", "#pragma once\n#include <unknwn.h>\n");
    Write(root / "platform/include/unknwn.h", "#pragma once\n");
    Write(root / "platform/include/wrl/client.h", "#pragma once\n#include <unknwn.h>\n");
    Write(root / "platform/x11/Connection.h", "#pragma once\n#include <xcb/xcb.h>\n");
    Write(root / "platform/x11/Neutral.h", "#pragma once\n#include <cstdint>\n");
    Write(root / "platform/x11/Wrapper.h", "#pragma once\n#include \"Connection.h\"\n");
    Write(root / "platform/win/User.cpp", "#include <wrl/client.h>\n"
                                          "#include \"platform/x11/Neutral.h\"\n"
                                          "#include \"platform/x11/Wrapper.h\"\n");
    Write(root / "platform/mf/Sample.cpp", "#include <mfapi.h>\n#include \"platform/x11/Neutral.h\"\n");
    Write(root / "Util/Logger.h", "#pragma once\n#include <string>\n#include \"ring/RingFile.h\"\n");
    Write(root / "ring/RingFile.h", "#pragma once\n#include <string>\n#include <xcb/shm.h>\n");
    Write(root / "ring/RingFile.cpp", "#include \"RingFile.h\"\n#include <mfapi.h>\n");
    Write(root / "Media/Source.cpp", "#include <mfapi.h>\n");

    const auto violations = CheckIncludes(root, ReadIncludeRules(root / "DEPS"));

    EXPECT_EQ(
        Describe(violations, root),
        "Media/Source.cpp:0: : folder 'Media' is not in the layer table\n"
        "Util/Logger.h:3: ring/RingFile.h: 'Util' may not include from 'ring'\n"
        "platform/mf/Sample.cpp:2: platform/x11/Neutral.h: 'platform/mf' may not include from "
        "'platform/x11'\n"
        "platform/win/User.cpp:3: platform/x11/Wrapper.h: 'platform/win' reaches <xcb/ through this header\n"
        "ring/RingFile.h:3: xcb/shm.h: 'ring' may not include <xcb/\n");
}

TEST(IncludeRulesTest, AnUnreadableTableLineIsNamed) {
    TempDirectory tree;
    Write(tree.Path("DEPS"), "app: Capture\nCapture Media\n");
    try {
        ReadIncludeRules(tree.Path("DEPS"));
        FAIL() << "a line without a colon was accepted";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("DEPS:2:"), std::string::npos) << error.what();
    }
}

// The product's own tree follows its table.
TEST(IncludeRulesTest, TheSourceTreeFollowsItsLayerTable) {
    const fs::path root = fs::path(std::getenv("PYX_SOURCE_DIR")) / "src";
    const auto violations = CheckIncludes(root, ReadIncludeRules(root / "DEPS"));
    EXPECT_TRUE(violations.empty()) << Describe(violations, root);
}
