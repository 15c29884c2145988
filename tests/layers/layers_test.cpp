// The layers of the source tree. Lower layers know nothing of higher ones:
// the protocol libraries stand alone and keep their own layers in order, the
// device interfaces know no user of theirs, the engine knows no window or
// slider, and only the programs' start-up picks real devices; the sound
// backends and the test doubles stay in their rooms. Two views of the same
// rule: the #include lines of every source file, and the libraries every
// target links (its whole link closure, written by the build at configure
// time). Each rule is also shown to catch a planted violation.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kRoot = VELNAR_SOURCE_DIR;

// The folders of the product and around it; includes into any other folder
// (Qt's, the system's, generated headers) are not the tree's business.
const std::vector<std::string> kFolders = {"iax",   "iax2",     "platform", "engine",
                                           "mixer", "settings", "console",  "ui",
                                           "tools", "tests",    "bench"};
// Folders whose code ships in the programs.
const std::set<std::string> kProduct = {"iax",   "iax2",     "platform", "engine",
                                        "mixer", "settings", "console",  "ui"};
const std::vector<std::string> kNotForProduct = {"tools/", "tests/", "bench/"};
// velnar-echo ships too, from tools/: its program and the frame codec it speaks.
const std::vector<std::string> kEchoProduct = {"tools/echo_peer.cpp", "tools/peer/"};
const std::set<std::string> kEchoTargets = {"velnar_echo_peer", "velnar_peer"};

// The sound backends, and the only places outside them that may name one:
// the device picker and the programs' start-up.
const std::vector<std::string> kBackends = {"platform/alsa/", "platform/pulse/"};
const std::string kPicker = "platform/audio_devices.";
const std::vector<std::string> kStartUp = {"console/main.cpp", "console/run_console.cpp",
                                           "ui/main.cpp"};

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// ---- Includes --------------------------------------------------------------

struct IncludeRule {
    std::string from;                       // files under this folder (or this file) ...
    std::vector<std::string> forbidden;     // ... include nothing under these ("*": outside `from`)
    std::vector<std::string> except;        // files and folders the rule leaves alone
    std::vector<std::string> allowed = {};  // included files the rule lets through
};

std::vector<IncludeRule> IncludeRules()
{
    std::vector<IncludeRule> rules = {
        {"iax/", {"*"}, {}},
        // The second protocol library borrows only the first one's digest.
        {"iax2/", {"*"}, {}, {"iax/md5.h"}},
        {"platform/", {"iax/", "iax2/", "engine/", "mixer/", "settings/", "console/", "ui/"}, {}},
        // Each backend stands on the interfaces alone.
        {"platform/alsa/", {"platform/pulse/", "platform/doubles/"}, {}},
        {"platform/pulse/", {"platform/alsa/", "platform/doubles/"}, {}},
        {"engine/", {"mixer/", "ui/", "console/"}, {}},
        // Call control meets a protocol only through its call link.
        {"engine/",
         {"iax/", "iax2/"},
         {"engine/iax1_link.cpp", "engine/iax2_link.cpp", "engine/server_address.cpp"}},
        {"mixer/", {"iax/", "engine/", "console/", "ui/"}, {}},
        // The window talks to the engine, never to the protocol library or
        // the console.
        {"ui/", {"iax/", "iax2/", "console/"}, {}},
        // The settings file is plain data: it knows nothing else.
        {"settings/", {"*"}, {}},
        {"tools/", {"ui/"}, {"tools/screenshots_main.cpp"}},
        {"tools/", {"tests/", "bench/"}, {}},
        // The peers' codec is written apart from the library it checks.
        {"tools/peer/",
         {"iax/", "iax2/", "engine/", "platform/", "mixer/", "settings/", "console/", "ui/"},
         {}},
    };
    std::vector<std::string> product = kEchoProduct;
    for (const std::string& folder : kProduct) {
        product.push_back(folder + "/");
        rules.push_back({folder + "/", kNotForProduct, {}});
    }
    std::vector<std::string> mayNameBackends = kStartUp;
    mayNameBackends.insert(mayNameBackends.end(), kBackends.begin(), kBackends.end());
    mayNameBackends.push_back(kPicker);
    for (const std::string& from : product) {
        rules.push_back({from, kBackends, mayNameBackends});
        rules.push_back({from, {"platform/doubles/"}, {"platform/doubles/"}});
        std::vector<std::string> mayPick = kStartUp;
        mayPick.push_back(kPicker);
        rules.push_back({from, {kPicker}, mayPick});
    }
    for (const std::string& from : kEchoProduct)
        rules.push_back({from, {"tests/", "bench/"}, {}});
    return rules;
}

struct Include {
    std::string file;  // the including file, relative to the root
    int line;
    std::string target;   // the included file, relative to the root
    std::string written;  // as the line has it
};

// The project file an include names, relative to the root, or "" when it is
// not one of ours. A quoted name is looked up beside the including file
// first, as the compiler does.
std::string Resolve(const fs::path& file, const std::string& name, bool quoted)
{
    std::vector<fs::path> candidates;
    if (quoted)
        candidates.push_back(file.parent_path() / name);
    candidates.push_back(kRoot / name);
    for (const fs::path& candidate : candidates) {
        std::error_code error;
        if (!fs::is_regular_file(candidate, error))
            continue;
        const std::string relative =
            fs::relative(fs::weakly_canonical(candidate), kRoot).generic_string();
        if (StartsWith(relative, ".."))
            return "";
        return relative;
    }
    return "";
}

std::vector<Include> ProjectIncludes()
{
    static const std::regex kInclude(R"(^\s*#\s*include\s*([<"])([^">]+)[">])");
    std::vector<Include> includes;
    for (const std::string& folder : kFolders) {
        if (!fs::is_directory(kRoot / folder))
            continue;
        for (const auto& entry : fs::recursive_directory_iterator(kRoot / folder)) {
            const std::string extension = entry.path().extension().string();
            if (!entry.is_regular_file() ||
                (extension != ".h" && extension != ".cpp" && extension != ".c"))
                continue;
            std::ifstream in(entry.path());
            std::string text;
            for (int line = 1; std::getline(in, text); ++line) {
                std::smatch match;
                if (!std::regex_search(text, match, kInclude))
                    continue;
                const std::string target = Resolve(entry.path(), match[2], match[1] == "\"");
                if (!target.empty())
                    includes.push_back({fs::relative(entry.path(), kRoot).generic_string(), line,
                                        target, match[0].str()});
            }
        }
    }
    return includes;
}

bool StartsWithAny(const std::string& text, const std::vector<std::string>& prefixes)
{
    for (const std::string& prefix : prefixes)
        if (StartsWith(text, prefix))
            return true;
    return false;
}

// Why the include breaks the rule, or "".
std::string Breaks(const IncludeRule& rule, const Include& include)
{
    if (!StartsWith(include.file, rule.from) || StartsWithAny(include.file, rule.except) ||
        StartsWithAny(include.target, rule.allowed))
        return "";
    for (const std::string& forbidden : rule.forbidden) {
        if (forbidden == "*" && !StartsWith(include.target, rule.from))
            return rule.from + " may include nothing of the project outside " + rule.from;
        if (forbidden != "*" && StartsWith(include.target, forbidden))
            return rule.from + " may not include " + forbidden;
    }
    return "";
}

TEST(Layers, IncludesStayWithinTheirLayer)
{
    const std::vector<Include> includes = ProjectIncludes();
    ASSERT_GT(includes.size(), 100u) << "the source tree was not found at " << kRoot;
    for (const Include& include : includes)
        for (const IncludeRule& rule : IncludeRules())
            if (const std::string why = Breaks(rule, include); !why.empty())
                ADD_FAILURE() << include.file << ":" << include.line << ": " << include.written
                              << " -- " << why;
}

// ---- The protocol library's own layers ----------------------------------------

// Lowest first, as each file's first comment names its layer ("// Layer:
// receive path. ..."); a file includes only headers of its own layer or
// lower ones. The public interface (iax.h) is for everyone, and the test
// hooks belong to the top layer, which carries them out.
const std::vector<std::string> kIaxLayers = {
    "bottom",    "records",    "timer list",          "sessions",     "jitter buffer",
    "send side", "operations", "full-frame handling", "receive path", "events"};

// The layer a file's first comment names, or "" when it names none.
std::string LayerNamedIn(const fs::path& file)
{
    static const std::regex kLayer(R"(^// Layer: ([^.(]*[^.( ]))");
    std::ifstream in(file);
    std::string first;
    std::getline(in, first);
    std::smatch match;
    return std::regex_search(first, match, kLayer) ? match[1].str() : "";
}

// The rank of the layer of "iax/<name>.h" or "iax/<name>.cpp": that of the
// source file's; -1 for the public interface.
int IaxRank(const std::string& file)
{
    const std::string stem = fs::path(file).stem().string();
    if (stem == "iax")
        return -1;
    const std::string layer =
        LayerNamedIn(kRoot / "iax" / ((stem == "testing" ? "event" : stem) + ".cpp"));
    const auto found = std::find(kIaxLayers.begin(), kIaxLayers.end(), layer);
    return found == kIaxLayers.end() ? int(kIaxLayers.size()) : int(found - kIaxLayers.begin());
}

// Why an include within the library goes upwards, or "".
std::string IaxLayerBreak(const Include& include)
{
    if (!StartsWith(include.file, "iax/") || !StartsWith(include.target, "iax/"))
        return "";
    const int from = IaxRank(include.file);
    const int to = IaxRank(include.target);
    if (to <= from)
        return "";
    auto name = [](int rank) {
        return rank < int(kIaxLayers.size()) ? kIaxLayers[size_t(rank)] : "unnamed";
    };
    return "the " + name(from) + " layer includes the " + name(to) + " layer above it";
}

TEST(Layers, ProtocolLibraryCallsOnlyDownwards)
{
    for (const auto& entry : fs::directory_iterator(kRoot / "iax")) {
        if (entry.path().extension() != ".cpp")
            continue;
        EXPECT_GE(IaxRank(entry.path().string()), 0) << entry.path() << " names no known layer";
    }
    for (const Include& include : ProjectIncludes())
        if (const std::string why = IaxLayerBreak(include); !why.empty())
            ADD_FAILURE() << include.file << ":" << include.line << ": " << include.written
                          << " -- " << why;
}

// The protocol libraries run without Qt: not even a header of it.
TEST(Layers, ProtocolLibrariesIncludeNoQt)
{
    static const std::regex kQtInclude(R"(^\s*#\s*include\s*<Q)");
    for (const std::string folder : {"iax", "iax2"}) {
        if (!fs::is_directory(kRoot / folder))
            continue;
        for (const auto& entry : fs::recursive_directory_iterator(kRoot / folder)) {
            std::ifstream in(entry.path());
            std::string text;
            for (int line = 1; std::getline(in, text); ++line)
                if (std::regex_search(text, kQtInclude))
                    ADD_FAILURE() << entry.path() << ":" << line << ": " << text;
        }
    }
}

// ---- Links -----------------------------------------------------------------

struct Target {
    std::string folder;  // where it is defined, relative to the root
    std::vector<std::string> links;
};

std::map<std::string, Target> ReadTargets()
{
    std::map<std::string, Target> targets;
    std::ifstream in(VELNAR_LINK_CLOSURES);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name, folder, closure;
        std::getline(fields, name, '\t');
        std::getline(fields, folder, '\t');
        std::getline(fields, closure);
        Target& target = targets[name];
        target.folder = folder;
        std::istringstream items(closure);
        for (std::string item; std::getline(items, item, ';');)
            if (!item.empty())
                target.links.push_back(item);
    }
    return targets;
}

struct LinkRule {
    std::string from;  // targets defined under this folder ...
    // ... link none of these: a folder of the project ("ui/": any target
    // defined there), a target by name, or a name prefix of an outside
    // library ("Qt6::Widgets").
    std::vector<std::string> forbidden;
    std::string why;
    std::set<std::string> allowed;  // project targets the rule lets through
    std::string exceptTarget;       // one target the rule leaves alone
    std::set<std::string> only;     // when given, the only targets the rule is for
};

std::vector<LinkRule> LinkRules()
{
    const std::vector<std::string> backends = {"platform/", "PkgConfig::"};
    const std::string interfacesOnly =
        "it sees the device interfaces (velnar_platform) only, never a backend";
    std::vector<LinkRule> rules = {
        {"iax/",
         {"platform/", "engine/", "mixer/", "settings/", "console/", "ui/", "Qt6::"},
         "the protocol library stands alone",
         {},
         "",
         {}},
        {"iax2/",
         {"platform/", "engine/", "mixer/", "settings/", "console/", "ui/", "Qt6::"},
         "the protocol library stands alone",
         {},
         "",
         {}},
        {"platform/",
         {"iax/", "engine/", "mixer/", "settings/", "console/", "ui/", "Qt6::Widgets"},
         "the devices know none of their users",
         {},
         "",
         {}},
        {"engine/",
         {"mixer/", "ui/", "console/", "Qt6::Widgets", "Qt6::Gui"},
         "the engine runs without a window",
         {},
         "",
         {}},
        {"engine/", backends, interfacesOnly, {"velnar_platform"}, "", {}},
        {"mixer/",
         {"iax/", "engine/", "console/", "ui/"},
         "the faders know only the mixer device",
         {},
         "",
         {}},
        {"mixer/", backends, interfacesOnly, {"velnar_platform"}, "", {}},
        {"console/",
         {"ui/", "mixer/", "Qt6::Widgets"},
         "the console phone links no widgets",
         {},
         "",
         {}},
        {"tools/",
         {"ui/"},
         "only the screenshot program links the window's library",
         {},
         "velnar_screenshots",
         {}},
        {"tools/", {"tests/", "GTest::"}, "tools build without the tests", {}, "", {}},
        // Only the program's start-up picks the devices.
        {"ui/",
         backends,
         "the window's library sees the device interfaces only; the program's start-up picks the "
         "backend",
         {"velnar_platform", "velnar_signal_pipe"},
         "velnar",
         {}},
        {"ui/", {"console/"}, "the window knows no console", {}, "", {}},
        {"settings/",
         {"iax/", "platform/", "engine/", "mixer/", "console/", "ui/", "Qt6::"},
         "the settings file is plain data",
         {},
         "",
         {}},
    };
    const std::vector<std::string> testOnly = {"velnar_platform_doubles", "tests/", "bench/",
                                               "GTest::", "benchmark::"};
    const std::string why = "test doubles and test support stay out of the programs";
    for (const std::string& folder : kProduct) {
        std::vector<std::string> forbidden = testOnly;
        forbidden.push_back("tools/");
        rules.push_back({folder + "/", forbidden, why, {}, "", {}});
    }
    rules.push_back({"tools/", testOnly, why, {}, "", kEchoTargets});
    return rules;
}

// Why the target's links break the rule, one text per link.
std::vector<std::string> LinkBreaks(const LinkRule& rule, const std::string& name,
                                    const std::map<std::string, Target>& targets)
{
    const Target& target = targets.at(name);
    if (!StartsWith(target.folder + "/", rule.from) || name == rule.exceptTarget ||
        (!rule.only.empty() && !rule.only.count(name)))
        return {};
    std::vector<std::string> breaks;
    for (const std::string& link : target.links) {
        const auto defined = targets.find(link);
        const std::string where = defined == targets.end() ? link : defined->second.folder + "/";
        for (const std::string& forbidden : rule.forbidden)
            if ((link == forbidden || StartsWith(where, forbidden)) && !rule.allowed.count(link))
                breaks.push_back(name + " (" + target.folder + "/) links " + link + " -- " +
                                 rule.from + " may not link " + forbidden + ": " + rule.why);
    }
    return breaks;
}

TEST(Layers, TargetsLinkOnlyWhatTheirLayerMay)
{
    const std::map<std::string, Target> targets = ReadTargets();
    ASSERT_TRUE(targets.count("velnar_engine") && targets.count("velnar_iax"))
        << "no link closures in " << VELNAR_LINK_CLOSURES << ": run cmake again";
    for (const auto& [name, target] : targets)
        for (const LinkRule& rule : LinkRules())
            for (const std::string& why : LinkBreaks(rule, name, targets))
                ADD_FAILURE() << why;
}

// ---- Planted violations ------------------------------------------------------
// Every rule, shown a violation of its own, names it; what it must let
// through passes.

bool AnyIncludeRuleBreaks(const std::string& file, const std::string& target)
{
    const Include include{file, 1, target, ""};
    for (const IncludeRule& rule : IncludeRules())
        if (!Breaks(rule, include).empty())
            return true;
    return !IaxLayerBreak(include).empty();
}

TEST(Layers, PlantedIncludeViolationsAreCaught)
{
    const struct {
        const char* file;
        const char* target;
        bool breaks;
    } rows[] = {
        {"engine/audio_path.cpp", "platform/alsa/alsa_pcm.h", true},
        {"mixer/mixer_fader.cpp", "platform/pulse/pulse_context.h", true},
        {"engine/iax_phone.cpp", "platform/doubles/fake_wave_device.h", true},
        {"platform/silent_wave_device.cpp", "platform/doubles/fake_wave_device.h", true},
        {"platform/alsa/alsa_pcm.cpp", "platform/pulse/pulse_loop.h", true},
        {"ui/phone_app.cpp", "platform/audio_devices.h", true},
        {"ui/phone_dlg.cpp", "iax/iax.h", true},
        {"settings/settings_file.cpp", "platform/wave_device.h", true},
        {"tools/echo_peer.cpp", "platform/doubles/fake_wave_device.h", true},
        {"tools/echo_peer.cpp", "tests/support/iax_test_peer.h", true},
        {"iax2/wire.cpp", "iax/send.h", true},
        {"iax2/call_flow.cpp", "engine/iax_phone.h", true},
        {"engine/audio_path.cpp", "iax/iax.h", true},
        {"engine/iax_phone.cpp", "iax2/endpoint.h", true},
        {"engine/iax2_link.cpp", "iax2/endpoint.h", false},
        {"iax/records.cpp", "iax/send.h", true},
        {"iax/timer.h", "iax/session.h", true},
        {"ui/main.cpp", "platform/audio_devices.h", false},
        {"console/main.cpp", "platform/audio_devices.h", false},
        {"platform/audio_devices.cpp", "platform/pulse/pulse_context.h", false},
        {"tests/engine/engine_harness.h", "platform/doubles/fake_wave_device.h", false},
        {"tools/capture_cadence.cpp", "platform/alsa/alsa_wave_device.h", false},
        {"iax/send.cpp", "iax/session.h", false},
        {"iax/event.cpp", "iax/testing.h", false},
        {"iax2/call_flow.cpp", "iax/md5.h", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(AnyIncludeRuleBreaks(row.file, row.target), row.breaks)
            << row.file << " includes " << row.target;
}

TEST(Layers, PlantedLinkViolationsAreCaught)
{
    const std::map<std::string, Target> targets = {
        {"velnar_platform", {"platform", {"Qt6::Core"}}},
        {"velnar_platform_audio", {"platform", {"velnar_platform"}}},
        {"velnar_platform_doubles", {"platform", {"velnar_platform"}}},
        {"velnar_ui", {"ui", {"velnar_platform", "velnar_platform_audio"}}},
        {"velnar", {"ui", {"velnar_ui", "velnar_platform_audio"}}},
        {"velnar_settings", {"settings", {"Qt6::Widgets"}}},
        {"velnar_echo_peer", {"tools", {"velnar_platform_doubles"}}},
        {"velnar_capture_cadence", {"tools", {"velnar_platform_doubles"}}},
        {"velnar_iax2", {"iax2", {"Qt6::Core"}}},
    };
    auto breakCount = [&](const std::string& name) {
        size_t count = 0;
        for (const LinkRule& rule : LinkRules())
            count += LinkBreaks(rule, name, targets).size();
        return count;
    };
    EXPECT_GT(breakCount("velnar_ui"), 0u) << "the window's library links a backend";
    EXPECT_GT(breakCount("velnar_settings"), 0u);
    EXPECT_GT(breakCount("velnar_echo_peer"), 0u) << "velnar-echo links a test double";
    EXPECT_GT(breakCount("velnar_iax2"), 0u);
    EXPECT_EQ(breakCount("velnar"), 0u) << "the program's start-up picks the backend";
    EXPECT_EQ(breakCount("velnar_capture_cadence"), 0u) << "a tool may use the doubles";
}

}  // namespace
