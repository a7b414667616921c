// libFuzzer target: any bytes as the settings file, through load, change, save, load.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "config/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string folder = [] {
        std::string f = "/tmp/gx-settings-fuzzer-" + std::to_string(getpid());
        mkdir(f.c_str(), 0700);
        return f;
    }();
    const std::string ini = folder + "/Glimmerax.ini";
    std::remove((ini + ".bak").c_str());
    if (FILE* f = std::fopen(ini.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    gx::resetSettings();
    gx::loadSettingsFrom(folder);
    if (gx::settings.GameSpeed < 1 || gx::settings.GameSpeed > 10) __builtin_trap();
    gx::settings.GameSpeed = gx::settings.GameSpeed % 10 + 1;
    gx::saveSettings();
    gx::resetSettings();
    gx::loadSettingsFrom(folder);
    gx::resetSettings();
    return 0;
}
