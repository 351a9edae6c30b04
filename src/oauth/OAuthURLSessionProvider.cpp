#include "oauth/OAuthURLSessionProvider.h"

#include "platform/Network.h"

namespace OAuthURLSessionProvider {

QNetworkAccessManager& session() { return Network::sharedAccessManager(); }

} // namespace OAuthURLSessionProvider
