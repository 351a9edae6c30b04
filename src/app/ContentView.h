#pragma once

#include "app/AppConfig.h"
#include "app/AppSection.h"
#include "app/PageRegistry.h"

#include <QDialog>
#include <QMap>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class AppModel;
class Footer;
class QScrollArea;
class QStackedLayout;
class QVBoxLayout;
class Sidebar;
class TopBar;
struct Platform;

// The one window. It owns the model and shows either the normal layout (sidebar, top bar, the
// selected section's page, footer) or, while a project is open in it, the code workspace. Pages
// and sheets come from PageRegistry. When the application quits, the model's shutdown() runs
// once.
class ContentView : public QWidget {
    Q_OBJECT

public:
    explicit ContentView(QWidget* parent = nullptr);
    explicit ContentView(const Platform& platform, QWidget* parent = nullptr);
    ~ContentView() override;

    AppModel& model() const { return *m_model; }

    AppSection section() const { return m_section; }
    void setSection(AppSection section);

    bool showAddProject() const { return isSheetShown(SheetKind::addProject); }
    bool showCreateWebsite() const { return isSheetShown(SheetKind::createWebsite); }
    bool showLogin() const { return isSheetShown(SheetKind::login); }
    bool isSheetShown(SheetKind kind) const { return m_sheetFlags.value(kind, false); }
    // Setting a flag opens its sheet (when one is registered); the sheet's dismissal clears it,
    // and clearing it closes the sheet.
    void setSheetShown(SheetKind kind, bool shown);
    QDialog* presentedSheet(SheetKind kind) const { return m_sheets.value(kind); }

    const std::optional<Project>& codeIDEProject() const { return m_codeIDEProject; }
    // Opens the project's code workspace over the whole window (only when a workspace is
    // registered); nothing closes it but absent.
    void setCodeIDEProject(const std::optional<Project>& project);

    // What runs when the application terminates; the model's shutdown() by default.
    void setTerminationHandler(std::function<void()> handler);

    Sidebar* sidebar() const { return m_sidebar; }
    TopBar* topBar() const { return m_topBar; }
    Footer* footer() const { return m_footer; }
    QScrollArea* pageArea() const { return m_pageArea; }
    QWidget* page() const { return m_page; }
    QWidget* normalLayout() const { return m_normal; }
    QWidget* codeWorkspace() const { return m_workspace; }

signals:
    void sectionChanged(AppSection section);
    void codeIDEProjectChanged();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void build();
    void rebuildPage();
    QWidget* makePage(AppSection section);
    void applicationWillTerminate();

    std::unique_ptr<AppModel> m_model;
    AppSection m_section = AppSection::dashboard;
    QMap<SheetKind, bool> m_sheetFlags;
    QMap<SheetKind, QPointer<QDialog>> m_sheets;
    std::optional<Project> m_codeIDEProject;
    std::function<void()> m_terminationHandler;
    bool m_terminated = false;

    QStackedLayout* m_stack = nullptr;
    QWidget* m_normal = nullptr;
    Sidebar* m_sidebar = nullptr;
    TopBar* m_topBar = nullptr;
    Footer* m_footer = nullptr;
    QScrollArea* m_pageArea = nullptr;
    QVBoxLayout* m_pageLayout = nullptr;
    QPointer<QWidget> m_page;
    // Built on the first visit of the projects section, then kept.
    QPointer<QWidget> m_projectsPage;
    QPointer<QWidget> m_workspace;
};
