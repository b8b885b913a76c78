// The page as it must come out of the built library, written out independently of the resource scripts.
#pragma once

#include <windows.h>
#include <commctrl.h>

const int PageControlCount = 26;
const int PageLanguageCount = 20;

struct ExpectedControl {
    int Id;
    const char* Class;
    DWORD Style;
    bool HasText;
};

struct Placement {
    short X, Y, Cx, Cy;
};

struct ExpectedLanguage {
    WORD LangId;
    const char* Font;
    bool ShellFont;
    bool RightToLeft;
    short Width, Height;
    const char* Title;               // UTF-8
    const char* Texts[PageControlCount]; // UTF-8, in control order; nullptr for controls without text
};

// Control order is also the tab order.
inline const ExpectedControl ExpectedControls[PageControlCount] = {
    {1020, "msctls_trackbar32", WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_TABSTOP | TBS_BOTH | TBS_NOTICKS, false},
    {1022, "EDIT", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL, false},
    {1021, "msctls_trackbar32", WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_TABSTOP | TBS_BOTH | TBS_NOTICKS, false},
    {1023, "EDIT", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL, false},
    {1024, "BUTTON", WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_TABSTOP | BS_AUTOCHECKBOX, false},
    {1025, "msctls_trackbar32", WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_TABSTOP | TBS_BOTH | TBS_NOTICKS, false},
    {1026, "EDIT", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL, false},
    {1027, "BUTTON", WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_TABSTOP | BS_AUTOCHECKBOX, false},
    {1028, "msctls_trackbar32", WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_TABSTOP | TBS_BOTH | TBS_NOTICKS, false},
    {1029, "EDIT", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL, false},
    {1030, "BUTTON", WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_TABSTOP | BS_AUTOCHECKBOX, false},
    {1031, "BUTTON", WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_GROUP | BS_AUTORADIOBUTTON, true},
    {1032, "BUTTON", WS_CHILD | WS_VISIBLE | WS_DISABLED | BS_AUTORADIOBUTTON, true},
    {1033, "BUTTON", WS_CHILD | WS_VISIBLE | WS_DISABLED | BS_AUTORADIOBUTTON, true},
    {1043, "STATIC", WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_GROUP | SS_LEFTNOWORDWRAP, true},
    {1034, "BUTTON", WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_TABSTOP | BS_AUTOCHECKBOX, true},
    {1035, "BUTTON", WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_TABSTOP | BS_AUTOCHECKBOX, true},
    {1036, "BUTTON", WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_TABSTOP | BS_AUTOCHECKBOX, true},
    {1037, "BUTTON", WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_TABSTOP | BS_AUTOCHECKBOX, true},
    {1038, "BUTTON", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, true},
    {1039, "STATIC", WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_GROUP | SS_RIGHT, true},
    {1040, "STATIC", WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_GROUP | SS_RIGHT, true},
    {1041, "STATIC", WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_GROUP | SS_RIGHT, true},
    {1042, "STATIC", WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_GROUP | SS_RIGHT, true},
    {-1, "STATIC", WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, true},
    {-1, "BUTTON", WS_CHILD | WS_VISIBLE | BS_GROUPBOX, true},
};

inline const Placement EnglishPlacements[PageControlCount] = {
    {52, 23, 100, 12}, {156, 22, 22, 12}, {52, 37, 100, 12}, {156, 36, 22, 12},
    {187, 24, 16, 8}, {52, 61, 100, 12}, {156, 60, 22, 12}, {187, 64, 16, 8},
    {52, 76, 100, 12}, {156, 75, 22, 12}, {187, 78, 16, 8}, {56, 95, 37, 10},
    {99, 95, 26, 10}, {131, 95, 26, 10}, {9, 95, 45, 8}, {55, 115, 35, 10},
    {55, 129, 36, 10}, {95, 115, 39, 10}, {95, 129, 47, 10}, {145, 118, 50, 14},
    {9, 24, 42, 8}, {9, 39, 42, 8}, {9, 62, 42, 8}, {9, 77, 42, 8},
    {181, 91, 19, 9}, {13, 11, 187, 44},
};

inline const Placement ArabicPlacements[PageControlCount] = {
    {58, 23, 100, 12}, {35, 22, 22, 12}, {58, 37, 100, 12}, {35, 36, 22, 12},
    {20, 24, 11, 8}, {58, 61, 100, 12}, {35, 60, 22, 12}, {20, 64, 12, 8},
    {58, 76, 100, 12}, {35, 75, 22, 12}, {20, 78, 11, 8}, {20, 100, 59, 10},
    {79, 100, 38, 10}, {118, 100, 39, 10}, {159, 100, 37, 8}, {87, 115, 35, 10},
    {83, 129, 39, 10}, {139, 114, 47, 10}, {123, 129, 63, 10}, {18, 122, 50, 14},
    {158, 24, 38, 8}, {157, 39, 39, 8}, {156, 62, 40, 8}, {156, 77, 40, 8},
    {2, 90, 35, 9}, {13, 11, 187, 44},
};

inline const Placement HebrewPlacements[PageControlCount] = {
    {58, 23, 100, 12}, {35, 22, 22, 12}, {58, 37, 100, 12}, {35, 36, 22, 12},
    {20, 24, 11, 8}, {58, 61, 100, 12}, {35, 60, 22, 12}, {20, 64, 12, 8},
    {58, 76, 100, 12}, {35, 75, 22, 12}, {20, 78, 11, 8}, {20, 100, 59, 10},
    {85, 100, 32, 10}, {123, 100, 34, 10}, {159, 100, 37, 8}, {90, 115, 31, 10},
    {90, 129, 31, 10}, {145, 114, 41, 10}, {148, 129, 38, 10}, {18, 122, 50, 14},
    {158, 24, 38, 8}, {157, 39, 39, 8}, {156, 62, 40, 8}, {156, 77, 40, 8},
    {9, 90, 33, 9}, {13, 11, 187, 44},
};

inline const ExpectedLanguage ExpectedLanguages[PageLanguageCount] = {
    {0x0401, "MS Sans Serif", false, true, 206, 196, u8"اإعدادات موسعة",
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
      u8"الأماكن الخارجية", u8"50 هرتز", u8"60 هرتز", u8"مصدر الإضاءة:", u8"قلب", u8"انعكاس", u8"السرية", u8"إضاءة منخفضة", u8"افتراضي", u8"أحمر:", u8"أزرق:", u8"التعريض:", u8"الكسب:", u8"تلقائي", u8"توازن اللون الأبيض"}},
    {0x0404, "MS Shell Dlg", true, false, 206, 196, u8"擴充設定",
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
      u8"室外", u8"50Hz", u8"60Hz", u8"光源:", u8"翻轉", u8"鏡面", u8"隱私", u8"低照度", u8"預設值", u8"紅色:", u8"藍色:", u8"曝光:", u8"增益:", u8"自動", u8"白平衡"}},
    {0x0406, "MS Sans Serif", false, false, 206, 196, u8"Udvidede indstillinger",
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
      u8"Udendørs", u8"50Hz", u8"60Hz", u8"Lyskilde:", u8"Vend", u8"Spejl", u8"Hemmelighed", u8"Svagt lys", u8"Standard", u8"Rød:", u8"Blå:", u8"Eksponering:", u8"Forstærk:", u8"Auto", u8"Hvidbalance"}},
    {0x0407, "MS Sans Serif", false, false, 206, 196, u8"Erweiterte Einstellungen",
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
      u8"Im Freien", u8"50 Hz", u8"60 Hz", u8"Lichtquelle:", u8"Wenden", u8"Spiegel", u8"Datenschutz", u8"Schwachlicht", u8"Standard", u8"Rot:", u8"Blau:", u8"Belichtung:", u8"Verstärkung:", u8"Auto", u8"Weißabgleich"}},
    {0x0408, "MS Sans Serif", false, false, 206, 196, u8"Επιπλέον ρυθμίσεις",
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
      u8"Εξωτερικό", u8"50Hz", u8"60Hz", u8"Πηγή φωτός:", u8"Αναστροφή", u8"Αντικατοπτρισμός", u8"Απόρρητο", u8"Χαμηλό φως", u8"Προεπιλογή", u8"Κόκκινο:", u8"Μπλε:", u8"Έκθεση:", u8"Απολαβή:", u8"Αυτόματο", u8"Ισορροπία λευκού"}},
    {0x0409, "MS Sans Serif", false, false, 206, 196, u8"Advanced Setting",
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
      u8"Outdoor", u8"50Hz", u8"60Hz", u8"Light Source:", u8"Flip", u8"Mirror", u8"Privacy", u8"Low Light", u8"Default", u8"WB [Red]:", u8"WB [Blue]:", u8"Exposure:", u8"Gain:", u8"AUTO", u8"WhiteBalance"}},
    {0x040C, "MS Sans Serif", false, false, 206, 196, u8"Réglages étendues",
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
      u8"Extérieur", u8"50Hz", u8"60Hz", u8"Source lumière:", u8"Inversion", u8"Miroir", u8"Vie privée", u8"Lumière faible", u8"Par défaut", u8"Rouge:", u8"Bleu:", u8"Exposition:", u8"Gain:", u8"Auto", u8"Balance blancs"}},
    {0x040D, "MS Sans Serif", false, true, 206, 196, u8"הגדרות מתקדמות",
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
      u8"בחוץ", u8"50 הרץ", u8"60 הרץ", u8"מקור האור:", u8"להפוך", u8"מראה", u8"פרטיות", u8"אור חלש", u8"ברירת מחדל", u8"אדום:", u8"כחול:", u8"חשיפה:", u8"רווח:", u8"אוטומטי", u8"איזון לבן"}},
    {0x0410, "MS Sans Serif", false, false, 206, 196, u8"Impostazioni estese",
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
      u8"Esterni", u8"50 Hz", u8"60 Hz", u8"Sorgente luminosa:", u8"Capovolgi", u8"Speculare", u8"Privacy", u8"Luminosità ridotta", u8"Predefinite", u8"Rosso:", u8"Blu:", u8"Esposizione:", u8"Guadagno:", u8"Auto", u8"Bilanc. bianco"}},
    {0x0411, "MS Shell Dlg", true, false, 216, 196, u8"拡張設定",
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
      u8"屋外", u8"50Hz", u8"60Hz", u8"光源:", u8"反転", u8"鏡面", u8"プライバシー", u8"低照度", u8"既定値", u8"赤色:", u8"青色:", u8"露光:", u8"ゲイン:", u8"自動", u8"ホワイトバランス"}},
    {0x0412, "MS Sans Serif", false, false, 206, 196, u8"고급 설정",
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
      u8"야외", u8"50Hz", u8"60Hz", u8"광원:", u8"반전", u8"미러", u8"프라이버시", u8"저조도", u8"초기설정", u8"적색:", u8"청색:", u8"노출:", u8"게인:", u8"자동", u8"화이트밸런스"}},
    {0x0413, "MS Sans Serif", false, false, 206, 196, u8"Uitgebreide instellingen",
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
      u8"Buitenshuis", u8"50 Hz", u8"60 Hz", u8"Lichtbron:", u8"Omkeren", u8"Spiegelen", u8"Privacy", u8"Weinig licht", u8"Standaard", u8"Rood:", u8"Blauw:", u8"Belichting:", u8"Versterken:", u8"Automatisch", u8"Witbalans"}},
    {0x0414, "MS Sans Serif", false, false, 206, 196, u8"Utvidede innstillinger",
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
      u8"Utendørs", u8"50Hz", u8"60Hz", u8"Lyskilde:", u8"Snu", u8"Speilvend", u8"Privat", u8"Lite lys", u8"Standard", u8"Rød:", u8"Blå:", u8"Eksponering:", u8"Forsterkning:", u8"Auto", u8"Hvitbalanse"}},
    {0x0416, "MS Sans Serif", false, false, 206, 196, u8"Configurações extendidas",
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
      u8"Exteriores", u8"50 Hz", u8"60 Hz", u8"Fonte de luz:", u8"Inversão", u8"Espelho", u8"Privacidade", u8"Pouca luz", u8"Padrão", u8"Vermelho:", u8"Azul:", u8"Exposição:", u8"Ganho:", u8"Automático", u8"Equilíbrio do branco"}},
    {0x041D, "MS Sans Serif", false, false, 206, 196, u8"Utökade inställningar",
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
      u8"Utomhus", u8"50Hz", u8"60Hz", u8"Ljuskälla:", u8"Vänd", u8"Spegel", u8"Sekretess", u8"Svag belysning", u8"Förvalt", u8"Röd:", u8"Blå:", u8"Exponering:", u8"Öka:", u8"Auto", u8"Vitbalans"}},
    {0x041F, "MS Shell Dlg", true, false, 206, 196, u8"Genişletilmiş Ayarlar",
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
      u8"Açık hava", u8"50Hz", u8"60Hz", u8"Işık Kaynağı:", u8"Çevirme", u8"Ayna yansıma", u8"Gizlilik", u8"Düşük Işık", u8"Varsayılan", u8"Kırmızı filtre:", u8"Mavi filtre:", u8"Enstantane:", u8"Kazanç:", u8"Otomatik", u8"Beyaz Denge"}},
    {0x0804, "MS Shell Dlg", true, false, 206, 196, u8"扩展设定",
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
      u8"户外", u8"50Hz", u8"60Hz", u8"光源:", u8"反转", u8"镜面", u8"隐私", u8"低照度", u8"预设值", u8"红色:", u8"蓝色:", u8"曝光:", u8"增益:", u8"自动", u8"白平衡"}},
    {0x0816, "MS Sans Serif", false, false, 206, 196, u8"Definições expandidas",
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
      u8"Exteriores", u8"50 Hz", u8"60 Hz", u8"Fonte de luz:", u8"Inversão", u8"Espelho", u8"Privacidade", u8"Pouca luz", u8"Predefinição", u8"Vermelho:", u8"Azul:", u8"Exposição:", u8"Ganho:", u8"Automático", u8"Balanço do branco"}},
    {0x0C04, "MS Shell Dlg", true, false, 206, 196, u8"擴展設定",
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
      u8"室外", u8"50Hz", u8"60Hz", u8"光源:", u8"翻轉", u8"鏡面", u8"隱私", u8"低光照", u8"預設值", u8"紅色:", u8"藍色:", u8"曝光:", u8"獲取:", u8"自動", u8"白平衡"}},
    {0x0C0A, "MS Sans Serif", false, false, 206, 196, u8"Config. adicional",
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
      u8"Exteriores", u8"50 Hz", u8"60 Hz", u8"Fuente de luz:", u8"Inversión", u8"Espejo", u8"Privacidad", u8"Poca luz", u8"Valor predet.", u8"Rojo:", u8"Azul:", u8"Exposición:", u8"Ganancia:", u8"Automático", u8"Balance de blanco"}},
};
