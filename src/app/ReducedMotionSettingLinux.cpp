#include "app/ReducedMotionSetting.h"

#include <gio/gio.h>

namespace quaylet {

// GNOME and the desktops that follow its settings keep the choice in GSettings. Looking the
// schema up first matters: GSettings aborts the process on a schema that is not installed.
bool desktopDisablesAnimations() {
    static constexpr const char* kSchema = "org.gnome.desktop.interface";
    static constexpr const char* kKey = "enable-animations";
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (source == nullptr) {
        return false;
    }
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, kSchema, TRUE);
    if (schema == nullptr) {
        return false;
    }
    const bool hasKey = g_settings_schema_has_key(schema, kKey);
    g_settings_schema_unref(schema);
    if (!hasKey) {
        return false;
    }
    GSettings* settings = g_settings_new(kSchema);
    const bool enabled = g_settings_get_boolean(settings, kKey);
    g_object_unref(settings);
    return !enabled;
}

}  // namespace quaylet
