#include "Settings/Localization.h"

#include <map>
#include <optional>

#include "platform/foundation/Locale.h"

namespace {

struct Words {
    const char* preferences;
    const char* settings;
};

const std::map<std::string, Words>& localizedWords() {
    static const std::map<std::string, Words> table = {
        {"ar", {"تفضيلات", "الإعدادات"}},
        {"ca", {"Preferències", "Configuració"}},
        {"cs", {"Předvolby", "Nastavení"}},
        {"da", {"Indstillinger", "Indstillinger"}},
        {"de", {"Einstellungen", "Einstellungen"}},
        {"el", {"Προτιμήσεις", "Ρυθμίσεις"}},
        {"en", {"Preferences", "Settings"}},
        {"en-AU", {"Preferences", "Settings"}},
        {"en-GB", {"Preferences", "Settings"}},
        {"es", {"Preferencias", "Ajustes"}},
        {"es-419", {"Preferencias", "Ajustes"}},
        {"fi", {"Asetukset", "Asetukset"}},
        {"fr", {"Préférences", "Réglages"}},
        {"fr-CA", {"Préférences", "Réglages"}},
        {"he", {"העדפות", "הגדרות"}},
        {"hi", {"प्राथमिकता", "समायोजन"}},
        {"hr", {"Postavke", "Postavke"}},
        {"hu", {"Beállítások", "Beállítások"}},
        {"id", {"Preferensi", "Pengaturan"}},
        {"it", {"Preferenze", "Impostazioni"}},
        {"ja", {"環境設定", "設定"}},
        {"ko", {"환경설정", "설정"}},
        {"ms", {"Keutamaan", "Tetapan"}},
        {"nl", {"Voorkeuren", "Instellingen"}},
        {"no", {"Valg", "Innstillinger"}},
        {"pl", {"Preferencje", "Ustawienia"}},
        {"pt", {"Preferências", "Ajustes"}},
        {"pt-PT", {"Preferências", "Definições"}},
        {"ro", {"Preferințe", "Configurări"}},
        {"ru", {"Настройки", "Настройки"}},
        {"sk", {"Nastavenia", "Nastavenia"}},
        {"sv", {"Inställningar", "Inställningar"}},
        {"th", {"การตั้งค่า", "ค่าติดตั้ง"}},
        {"tr", {"Tercihler", "Ayarlar"}},
        {"uk", {"Параметри", "Параметри"}},
        {"vi", {"Tùy chọn", "Cài đặt"}},
        {"zh-CN", {"偏好设置", "设置"}},
        {"zh-HK", {"偏好設定", "設定"}},
        {"zh-TW", {"偏好設定", "設定"}},
    };
    return table;
}

std::string pick(const Words& words, Localization::Identifier identifier) {
    return identifier == Localization::Identifier::settings ? words.settings : words.preferences;
}

Locale chosenLocale() {
    for (const auto& language : Locale::preferredLanguages()) {
        Locale locale(language);
        if (locale.languageCode()) return locale;
    }
    return Locale::current();
}

}  // namespace

std::string Localization::word(Identifier identifier) {
    const auto& table = localizedWords();
    std::string fallback = pick(table.at("en"), identifier);
    Locale locale = chosenLocale();
    if (!locale.languageCode()) return fallback;
    const std::string& language = *locale.languageCode();
    std::string key = language;
    if (language == "zh") {
        const auto& region = locale.regionCode();
        key = region && (*region == "HK" || *region == "TW") ? "zh-" + *region : "zh-CN";
    }
    auto it = table.find(key);
    return it == table.end() ? fallback : pick(it->second, identifier);
}
