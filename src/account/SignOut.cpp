#include "app/AppModel.h"

#include "account/GoogleSignOut.h"

void AppModel::logout()
{
    // Replies of requests started before this point are dropped from now on.
    ++m_signOutGeneration;
    ++m_sessionGeneration;
    if (m_config.user && !m_config.user->apiToken.isEmpty()) {
        // Not waited for; the reply is ignored.
        accountAPI().post<APIMessageResponse>(QStringLiteral("auth/logout"), m_config.user->apiToken, EmptyRequest{},
                                              [](const APIResult<APIMessageResponse>&) {});
    }
    GoogleSignOut::signOut();
    modifyConfig([](AppConfig& c) { c.user.reset(); });
    deleteSecureToken();
    saveConfig();
    setStatusMessage(QStringLiteral("Signed out."));
}
