#include "app/PageRegistry.h"

#include "app/DashboardPage.h"
#include "app/GuidePage.h"

#include <map>

namespace {

struct Registry {
    DashboardPageFactory dashboard = [](AppModel& model, std::function<void()> openProjects,
                                        std::function<void()> openSettings) -> QWidget* {
        return new DashboardPage(model, std::move(openProjects), std::move(openSettings));
    };
    ProjectsPageFactory projects;
    SettingsPageFactory settings;
    GuidePageFactory guide = [](AppModel& model) -> QWidget* { return new GuidePage(model); };
    UserPageFactory user;
    std::map<SheetKind, SheetFactory> sheets;
    CodeIDEViewFactory codeIDE;
};

// Created on first use, so registrations made during static initialisation find it.
Registry& registry()
{
    static Registry instance;
    return instance;
}

} // namespace

namespace PageRegistry {

bool setDashboardPage(DashboardPageFactory factory)
{
    registry().dashboard = std::move(factory);
    return true;
}

bool setProjectsPage(ProjectsPageFactory factory)
{
    registry().projects = std::move(factory);
    return true;
}

bool setSettingsPage(SettingsPageFactory factory)
{
    registry().settings = std::move(factory);
    return true;
}

bool setGuidePage(GuidePageFactory factory)
{
    registry().guide = std::move(factory);
    return true;
}

bool setUserPage(UserPageFactory factory)
{
    registry().user = std::move(factory);
    return true;
}

bool setSheet(SheetKind kind, SheetFactory factory)
{
    registry().sheets[kind] = std::move(factory);
    return true;
}

bool setCodeIDEView(CodeIDEViewFactory factory)
{
    registry().codeIDE = std::move(factory);
    return true;
}

DashboardPageFactory dashboardPage() { return registry().dashboard; }
ProjectsPageFactory projectsPage() { return registry().projects; }
SettingsPageFactory settingsPage() { return registry().settings; }
GuidePageFactory guidePage() { return registry().guide; }
UserPageFactory userPage() { return registry().user; }
CodeIDEViewFactory codeIDEView() { return registry().codeIDE; }

SheetFactory sheet(SheetKind kind)
{
    const auto it = registry().sheets.find(kind);
    return it == registry().sheets.end() ? SheetFactory() : it->second;
}

} // namespace PageRegistry
