#pragma once

// Helpers for the workspace model's tests.

#include "app/AppConfig.h"
#include "workspace/CodeIDEModel.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace WorkspaceTestKit {

// A project named "Site" whose root is `root`.
inline Project projectAt(const QString& root)
{
    Project p;
    p.id = QStringLiteral("site");
    p.name = QStringLiteral("Site");
    p.root = root;
    return p;
}

// A clock for the autosave's delay that moves only when the test moves it: a wait fires once the
// clock has passed its end and its object still exists (the model deletes it to cancel).
class ManualDelays {
public:
    void install(CodeIDEModel& model)
    {
        model.setAutosaveTimer([state = m_state](int ms, std::function<void()> fire) -> QObject* {
            auto* handle = new QObject;
            state->waits.push_back({state->now + ms, handle, std::move(fire)});
            return handle;
        });
    }

    // Moves the clock by `ms` and fires the waits that end on the way, in order.
    void advance(qint64 ms)
    {
        const qint64 end = m_state->now + ms;
        for (;;) {
            Wait* next = nullptr;
            for (Wait& wait : m_state->waits) {
                if (wait.fire && wait.handle && wait.due <= end && (!next || wait.due < next->due))
                    next = &wait;
            }
            if (!next)
                break;
            m_state->now = next->due;
            std::function<void()> fire = std::move(next->fire);
            next->fire = nullptr;
            fire();
        }
        m_state->now = end;
    }

    // Waits started and neither fired nor cancelled (a cancelled one's object may await its
    // deferred delete: run those first).
    int pending() const
    {
        int count = 0;
        for (const Wait& wait : m_state->waits)
            count += wait.fire && wait.handle ? 1 : 0;
        return count;
    }
    int started() const { return int(m_state->waits.size()); }

private:
    struct Wait {
        qint64 due;
        QPointer<QObject> handle;
        std::function<void()> fire;
    };
    struct State {
        qint64 now = 0;
        std::vector<Wait> waits;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace WorkspaceTestKit
