#pragma once

// Plug-in points of the main window (ContentView).
//
// The window builds every page, sheet and the code workspace through the factories below, with
// exactly the arguments their constructors take. A factory that nobody registered gives an
// empty page (sections) or opens nothing (sheets, code workspace). A page or sheet registers
// itself from its own .cpp, without touching the window:
//
//     // ProjectsPage.cpp
//     static const bool registered = PageRegistry::setProjectsPage(
//         [](AppModel& model, std::function<void()> showCreateWebsite,
//            std::function<void()> showAddProject,
//            std::function<void(const Project&)> openCodeIDE) -> QWidget* {
//             return new ProjectsPage(model, std::move(showCreateWebsite),
//                                     std::move(showAddProject), std::move(openCodeIDE));
//         });
//
//     // CreateWebsiteSheet.cpp
//     static const bool registered = PageRegistry::setSheet(
//         SheetKind::createWebsite,
//         [](AppModel& model, QWidget* parent) -> QDialog* {
//             return new CreateWebsiteSheet(model, parent);
//         });
//
// Pages: the factory returns a new parentless widget; the window owns it. A page is built when
// its section is selected and deleted when another section is selected (its own fields start
// afresh each time, as the page's constructor sets them); only the projects page, which keeps no
// fields of its own, is built once and then hidden and shown again. It observes the model itself.
//
// Sheets: the factory returns a new QDialog whose parent is `parent` (the window). The window
// opens it window-modal; the sheet dismisses itself with accept(), reject() or done() (its
// Cancel button only calls reject()); then the window clears the sheet's flag and deletes it.
//
// Code workspace: the factory returns a new parentless widget that replaces the whole window
// content until the workspace calls `onClose`; a different project gets a fresh widget.
//
// Actions handed to pages change only the window's own state (section, sheet flags, workspace).
// Factories run on the main thread. Registration may happen during static initialisation; the
// registry's storage is created on first use. The set… functions return true so they can
// initialise a static, and replace an earlier registration (tests may swap in their own and put
// back what they got from the getter).

#include <functional>

class AppModel;
class QDialog;
class QWidget;
struct Project;

// DashboardPage(model:openProjects:openSettings:)
using DashboardPageFactory = std::function<QWidget*(AppModel& model, std::function<void()> openProjects,
                                                    std::function<void()> openSettings)>;
// ProjectsPage(model:showCreateWebsite:showAddProject:openCodeIDE:)
using ProjectsPageFactory = std::function<QWidget*(AppModel& model, std::function<void()> showCreateWebsite,
                                                   std::function<void()> showAddProject,
                                                   std::function<void(const Project&)> openCodeIDE)>;
// SettingsPage(model:)
using SettingsPageFactory = std::function<QWidget*(AppModel& model)>;
// GuidePage(model:)
using GuidePageFactory = std::function<QWidget*(AppModel& model)>;
// UserPage(model:showLogin:)
using UserPageFactory = std::function<QWidget*(AppModel& model, std::function<void()> showLogin)>;

// The window's three sheet flags.
enum class SheetKind { addProject, createWebsite, login };
// AddProjectSheet(model:), CreateWebsiteSheet(model:), LoginSheet(model:)
using SheetFactory = std::function<QDialog*(AppModel& model, QWidget* parent)>;

// CodeIDEView(project:onClose:)
using CodeIDEViewFactory = std::function<QWidget*(const Project& project, std::function<void()> onClose)>;

namespace PageRegistry {

bool setDashboardPage(DashboardPageFactory factory);
bool setProjectsPage(ProjectsPageFactory factory);
bool setSettingsPage(SettingsPageFactory factory);
bool setGuidePage(GuidePageFactory factory);
bool setUserPage(UserPageFactory factory);
bool setSheet(SheetKind kind, SheetFactory factory);
bool setCodeIDEView(CodeIDEViewFactory factory);

// The registered factories; empty std::function when nothing is registered.
DashboardPageFactory dashboardPage();
ProjectsPageFactory projectsPage();
SettingsPageFactory settingsPage();
GuidePageFactory guidePage();
UserPageFactory userPage();
SheetFactory sheet(SheetKind kind);
CodeIDEViewFactory codeIDEView();

} // namespace PageRegistry
