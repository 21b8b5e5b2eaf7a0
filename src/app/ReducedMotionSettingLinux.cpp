#include "app/ReducedMotionSetting.h"

#include <gio/gio.h>

namespace quaylet {
namespace {

constexpr const char* kSchema = "org.gnome.desktop.interface";
constexpr const char* kKey = "enable-animations";

// GNOME and the desktops that follow its settings keep the choice in GSettings. Looking the
// schema up first matters: GSettings aborts the process on a schema that is not installed.
GSettings* interfaceSettings() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (source == nullptr) {
        return nullptr;
    }
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, kSchema, TRUE);
    if (schema == nullptr) {
        return nullptr;
    }
    const bool hasKey = g_settings_schema_has_key(schema, kKey);
    g_settings_schema_unref(schema);
    return hasKey ? g_settings_new(kSchema) : nullptr;
}

}  // namespace

bool desktopDisablesAnimations() {
    GSettings* settings = interfaceSettings();
    if (settings == nullptr) {
        return false;
    }
    const bool enabled = g_settings_get_boolean(settings, kKey);
    g_object_unref(settings);
    return !enabled;
}

std::shared_ptr<void> watchDesktopAnimations(std::function<void()> changed) {
    GSettings* settings = interfaceSettings();
    if (settings == nullptr) {
        return nullptr;
    }
    // GSettings announces changes through the default main context, which Qt's event loop
    // runs on Linux.
    auto* callback = new std::function<void()>(std::move(changed));
    g_signal_connect_data(
        settings, "changed::enable-animations",
        G_CALLBACK(+[](GSettings*, const char*, gpointer data) {
            (*static_cast<std::function<void()>*>(data))();
        }),
        callback,
        [](gpointer data, GClosure*) { delete static_cast<std::function<void()>*>(data); },
        GConnectFlags{});
    // GSettings only reports changes to keys that were read since it was made.
    g_settings_get_boolean(settings, kKey);
    return std::shared_ptr<void>(settings, [](void* watched) { g_object_unref(watched); });
}

}  // namespace quaylet
