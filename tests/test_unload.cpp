// Loads the built library late, drives it only through the exported functions
// resolved by name, unloads it and keeps running: nothing may hang or crash,
// also while a writer thread of the library still runs after the unload.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

struct Handle;
using CreateFn = Handle* (*)(const char*, int);
using HandleFn = void (*)(Handle*);
using InitializeFn = void (*)(Handle*, void (*)(bool));
using InitLoggerFn = void (*)();
using LogFn = void (*)(void*, int, const char*);

class Library {
public:
    Library() {
#if defined(_WIN32)
        char self[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        const std::string path = (fs::path(self).parent_path() / "tesselsdk.dll").string();
        module_ = LoadLibraryA(path.c_str());
#else
        const char* dir = std::getenv("TESSELSDK_TEST_BIN_DIR");
        const std::string path = std::string(dir ? dir : ".") + "/libtesselsdk.so";
        module_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    }
    ~Library() { Unload(); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool Loaded() const { return module_ != nullptr; }

    template <typename Fn>
    Fn Get(const char* name) const {
#if defined(_WIN32)
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
#else
        return reinterpret_cast<Fn>(dlsym(module_, name));
#endif
    }

    void Unload() {
        if (module_ == nullptr) return;
#if defined(_WIN32)
        FreeLibrary(module_);
#else
        dlclose(module_);
#endif
        module_ = nullptr;
    }

private:
#if defined(_WIN32)
    HMODULE module_ = nullptr;
#else
    void* module_ = nullptr;
#endif
};

std::string DataFolder() {
#if defined(_WIN32)
    const char* dir = std::getenv("LOCALAPPDATA");
#else
    const char* dir = std::getenv("XDG_DATA_HOME");
#endif
    return dir ? dir : "";
}

// True when some log file of the folder holds `text`.
bool LogFolderHolds(const fs::path& folder, const std::string& text) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (testsupport::ReadFile(it->path().string()).find(text) != std::string::npos) return true;
    return false;
}

void OnInitialized(bool) {}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "scenario failed: %s\n", what);
    std::fflush(stderr);
    std::_Exit(3);
}

// Runs in a child process: drives the library through its exported
// functions, unloads it, lives on for a while and exits. A crash of a thread
// of the unloaded library ends the child before it prints its last line.
[[noreturn]] void LoadDriveUnloadAndExit(bool withShutdown, const char* marker) {
    {
        Library lib;
        if (!lib.Loaded()) Fail("library not loaded");
        const auto create = lib.Get<CreateFn>("TesselSDK_Create");
        const auto destroy = lib.Get<HandleFn>("TesselSDK_Destroy");
        const auto initialize = lib.Get<InitializeFn>("TesselSDK_Initialize");
        const auto shutdown = lib.Get<HandleFn>("TesselSDK_Shutdown");
        const auto initLogger = lib.Get<InitLoggerFn>("TesselSDK_InitLogger");
        const auto log = lib.Get<LogFn>("TesselSDK_Log");
        if (!create || !destroy || !initialize || !shutdown || !initLogger || !log) Fail("missing export");

        Handle* handle = create("1.0.0", 1);
        if (handle == nullptr) Fail("no handle");
        initLogger();
        log(nullptr, 0, marker);
        initialize(handle, &OnInitialized);
        if (withShutdown) shutdown(handle);
        destroy(handle);
        lib.Unload();
    }
    // A writer still running wakes at least twice in this time, in code of the unloaded library.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));

    // Loading it again finds it usable.
    Library again;
    if (!again.Loaded()) Fail("reload failed");
    const auto log = again.Get<LogFn>("TesselSDK_Log");
    if (log == nullptr) Fail("missing export after reload");
    log(nullptr, 1, "after reload");
    again.Unload();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));

    std::fprintf(stderr, "unloaded and still running\n");
    std::fflush(stderr);
    std::exit(0);  // static destructors and exit handlers run with whatever still runs
}

void ExpectCleanUnload(bool withShutdown, const std::string& marker) {
    testsupport::ScopedEnv env("ENV", "UNLOAD");
    testsupport::ScopedEnv game("game_id", "unload-test");
    testsupport::ScopedEnv gate("streaming_yn");  // unset: initialisation stops before any request
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(LoadDriveUnloadAndExit(withShutdown, marker.c_str()), ::testing::ExitedWithCode(0),
                "unloaded and still running");
    const fs::path folder = fs::path(DataFolder()) / "VIVIDOVURUZ3UNLOAD" / "logs" / "unload-test";
    EXPECT_TRUE(LogFolderHolds(folder, marker)) << folder;
}

}  // namespace

TEST(Unload, AfterShutdownAndDestroy) { ExpectCleanUnload(true, "unload marker with shutdown"); }

TEST(Unload, AfterDestroyWithTheLoggerStillRunning) { ExpectCleanUnload(false, "unload marker without shutdown"); }
