#include "support/AccountServiceStandIn.h"

#include "support/TestCertificates.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QMutexLocker>

using Reply = LoopbackHttpServer::Reply;
using Request = LoopbackHttpServer::Request;

struct AccountServiceStandIn::Table {
    struct User {
        qint64 id = 0;
        QString name;
        QString email;
        QString password;
    };
    mutable QMutex mutex;
    QHash<QString, User> users;      // by e-mail
    QHash<QString, QString> tokens;  // token -> e-mail
    QHash<QByteArray, Reply> scripted;
    qint64 nextId = 1;
    qint64 nextToken = 1;

    QString issueToken(const QString& email)
    {
        const QString token = QStringLiteral("tok-%1-%2").arg(nextToken++).arg(email.section(u'@', 0, 0));
        tokens.insert(token, email);
        return token;
    }
};

namespace {

QJsonObject userJson(const AccountServiceStandIn::Table::User& u)
{
    return QJsonObject{{"id", u.id}, {"name", u.name}, {"email", u.email}, {"status", "active"}};
}

Reply json(const QJsonObject& object, int status = 200)
{
    return Reply::json(QJsonDocument(object).toJson(QJsonDocument::Compact), status);
}

Reply message(const QString& text, int status)
{
    return json(QJsonObject{{"message", text}}, status);
}

QString bearer(const Request& r)
{
    const QByteArray h = r.header("Authorization");
    return h.startsWith("Bearer ") ? QString::fromUtf8(h.mid(7)) : QString();
}

QByteArray pathOnly(const QByteArray& target)
{
    const qsizetype q = target.indexOf('?');
    return q < 0 ? target : target.left(q);
}

Reply answer(AccountServiceStandIn::Table& t, const Request& r)
{
    const QJsonObject body = QJsonDocument::fromJson(r.body).object();
    const QByteArray path = pathOnly(r.path);
    auto session = [&]() -> AccountServiceStandIn::Table::User* {
        const auto it = t.tokens.constFind(bearer(r));
        if (it == t.tokens.constEnd())
            return nullptr;
        auto user = t.users.find(*it);
        return user == t.users.end() ? nullptr : &*user;
    };
    if (r.method == "POST" && path == "/api/auth/register") {
        const QString email = body.value("email").toString();
        if (t.users.contains(email))
            return message(QStringLiteral("The email has already been taken."), 422);
        AccountServiceStandIn::Table::User u{t.nextId++, body.value("name").toString(), email, body.value("password").toString()};
        t.users.insert(email, u);
        return json(QJsonObject{{"token_type", "Bearer"}, {"access_token", t.issueToken(email)}, {"user", userJson(u)}}, 201);
    }
    if (r.method == "POST" && path == "/api/auth/login") {
        const QString email = body.value("email").toString();
        const auto it = t.users.constFind(email);
        if (it == t.users.constEnd() || it->password != body.value("password").toString())
            return message(QStringLiteral("These credentials do not match our records."), 401);
        return json(QJsonObject{{"token_type", "Bearer"}, {"access_token", t.issueToken(email)}, {"user", userJson(*it)}});
    }
    if (path == "/api/me" && (r.method == "GET" || r.method == "PUT")) {
        auto* u = session();
        if (!u)
            return message(QStringLiteral("Unauthenticated."), 401);
        if (r.method == "GET")
            return json(QJsonObject{{"user", userJson(*u)}});
        u->name = body.value("name").toString();
        return json(QJsonObject{{"access_token", bearer(r)}, {"user", userJson(*u)}});
    }
    if (r.method == "POST" && path == "/api/me/change-password") {
        auto* u = session();
        if (!u)
            return message(QStringLiteral("Unauthenticated."), 401);
        if (body.contains("current_password") && body.value("current_password").toString() != u->password)
            return message(QStringLiteral("The current password is incorrect."), 422);
        u->password = body.value("password").toString();
        return message(QStringLiteral("Password updated."), 200);
    }
    if (r.method == "POST" && path == "/api/password/email")
        return message(AccountServiceStandIn::resetMessage(), 200);
    if (r.method == "POST" && path == "/api/auth/logout") {
        if (!session())
            return message(QStringLiteral("Unauthenticated."), 401);
        t.tokens.remove(bearer(r));
        return message(QStringLiteral("Logged out."), 200);
    }
    return Reply::withStatus(404);
}

} // namespace

AccountServiceStandIn::AccountServiceStandIn()
    : m_server(LoopbackHttpServer::Mode::https)
    , m_table(std::make_shared<Table>())
{
    TestCertificates::trustTestCA();
    auto table = m_table;
    m_server.setHandler([table](const Request& r) -> std::optional<Reply> {
        QMutexLocker lock(&table->mutex);
        const auto scripted = table->scripted.constFind(pathOnly(r.path));
        if (scripted != table->scripted.constEnd())
            return *scripted;
        return answer(*table, r);
    });
}

AccountServiceStandIn::~AccountServiceStandIn() = default;

QString AccountServiceStandIn::baseURL() const
{
    return m_server.baseURL() + QStringLiteral("/api");
}

QString AccountServiceStandIn::addUser(const QString& name, const QString& email, const QString& password)
{
    QMutexLocker lock(&m_table->mutex);
    m_table->users.insert(email, Table::User{m_table->nextId++, name, email, password});
    return m_table->issueToken(email);
}

bool AccountServiceStandIn::hasUser(const QString& email) const
{
    QMutexLocker lock(&m_table->mutex);
    return m_table->users.contains(email);
}

QString AccountServiceStandIn::passwordOf(const QString& email) const
{
    QMutexLocker lock(&m_table->mutex);
    return m_table->users.value(email).password;
}

QString AccountServiceStandIn::nameOf(const QString& email) const
{
    QMutexLocker lock(&m_table->mutex);
    return m_table->users.value(email).name;
}

bool AccountServiceStandIn::isTokenValid(const QString& token) const
{
    QMutexLocker lock(&m_table->mutex);
    return m_table->tokens.contains(token);
}

QString AccountServiceStandIn::resetMessage()
{
    return QStringLiteral("We have emailed your password reset link <b>now</b>.");
}

void AccountServiceStandIn::script(const QByteArray& path, const Reply& reply)
{
    QMutexLocker lock(&m_table->mutex);
    m_table->scripted.insert(path, reply);
}

void AccountServiceStandIn::unscript(const QByteArray& path)
{
    QMutexLocker lock(&m_table->mutex);
    m_table->scripted.remove(path);
}

QList<Request> AccountServiceStandIn::requestsTo(const QByteArray& path) const
{
    QList<Request> result;
    for (const Request& r : m_server.requests())
        if (pathOnly(r.path) == path)
            result << r;
    return result;
}
