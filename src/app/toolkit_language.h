#pragma once

#include <QLocale>
#include <QTranslator>

// The toolkit's own texts (the buttons of the boxes, the context menus) in the
// user's language for as long as it lives, from Qt's translations where the
// system has them. The program's own texts are not translated, and the fixed
// layout is not mirrored for a right-to-left language.
class ToolkitLanguage {
public:
    explicit ToolkitLanguage(const QLocale& locale = QLocale());

private:
    QTranslator translator_;  // takes itself out of the application when it goes
};
