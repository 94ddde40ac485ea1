#include "app/WindowResourcesLoader.h"

namespace ww {

WindowResourcesLoader::WindowResourcesLoader(Shell& shell, UserDefaults& store,
                                             LoginItems& loginItems, Options options)
    : m_settingsTab(shell.resources(), store, loginItems, std::move(options.settings)),
      m_exitPasswordActions(shell, store),
      m_aboutWindow(shell, std::move(options.about)) {}

void WindowResourcesLoader::load(WirewatchAppDelegate& delegate) {
    delegate.awakeFromNib();
    m_settingsTab.awakeFromNib();
    m_aboutWindow.awakeFromNib();
}

}  // namespace ww
