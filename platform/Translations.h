#pragma once

class QCoreApplication;

/// Loads Qt's own Japanese translations (standard buttons, text box menus, the web view's
/// menu) into app when the texts' language is Japanese; in English it loads none, so that
/// the standard buttons are English too. What cannot be loaded is named on stderr; the texts
/// concerned then stay English.
void installQtTranslations(QCoreApplication& app);
