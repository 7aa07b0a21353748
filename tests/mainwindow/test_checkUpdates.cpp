// The update check: version numbers, reply validation, the request address,
// and whole checks against a small HTTPS server on this machine with a
// certificate made for the test.

#include "mainwindow/checkUpdates.h"
#include "windowFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTest>
#include <QUrlQuery>
#include <memory>

namespace {

// Answers every request with one fixed body, over TLS or plain.
class replyServer : public QTcpServer
{
public:
    QByteArray body;
    bool tls = true;
    QSslCertificate certificate;
    QSslKey key;
    QList<QByteArray> requestLines;
    int connections = 0;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        ++connections;
        auto *socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
        if (!tls) {
            // A plain server answers at once, whatever the client sends.
            socket->write(response());
            socket->disconnectFromHost();
            return;
        }
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QSslSocket::readyRead, socket, [this, socket, buffer] {
            buffer->append(socket->readAll());
            const int end = buffer->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            requestLines.append(buffer->left(buffer->indexOf("\r\n")));
            buffer->clear();
            socket->write(response());
            socket->disconnectFromHost();
        });
        socket->setLocalCertificate(certificate);
        socket->setPrivateKey(key);
        socket->startServerEncryption();
    }

    QByteArray response() const
    {
        return "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
               QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }
};

struct credentials_t {
    QSslCertificate certificate;
    QSslKey key;
};

// A self-signed certificate for localhost and 127.0.0.1, made once.
const credentials_t &localCredentials()
{
    static credentials_t made = [] {
        credentials_t c;
        const QString dir = testSupport::freshDir("tlsCertificate");
        QProcess openssl;
        openssl.start("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                  "-nodes", "-keyout", dir + "/key.pem", "-out", dir + "/cert.pem", "-days", "2",
                                  "-subj", "/CN=localhost", "-addext",
                                  "subjectAltName=DNS:localhost,IP:127.0.0.1"});
        if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
            return c;
        const QList<QSslCertificate> certs = QSslCertificate::fromPath(dir + "/cert.pem");
        if (!certs.isEmpty())
            c.certificate = certs.first();
        c.key = QSslKey(testSupport::readFile(dir + "/key.pem"), QSsl::Ec);
        return c;
    }();
    return made;
}

class checkUpdatesTest : public mainWindowTest
{
protected:
    void SetUp() override
    {
        mainWindowTest::SetUp();
        if (!QSslSocket::supportsSsl())
            GTEST_SKIP() << "Qt has no TLS support here";
        const credentials_t &c = localCredentials();
        if (c.certificate.isNull() || c.key.isNull())
            GTEST_SKIP() << "openssl could not make a test certificate";
        savedSsl = QSslConfiguration::defaultConfiguration();
        server.certificate = c.certificate;
        server.key = c.key;
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
        options->misc.updateCheckAddress = QString("https://127.0.0.1:%1").arg(server.serverPort());
        window = std::make_unique<QWidget>();
    }
    void TearDown() override
    {
        QSslConfiguration::setDefaultConfiguration(savedSsl);
        mainWindowTest::TearDown();
    }
    void trustTestCertificate()
    {
        QSslConfiguration c = QSslConfiguration::defaultConfiguration();
        c.addCaCertificate(server.certificate);
        QSslConfiguration::setDefaultConfiguration(c);
    }
    // Runs one check to its end and lets deferred deletions happen.
    void runCheck(checkUpdates &check, bool force)
    {
        QSignalSpy finished(&check, &checkUpdates::checkFinished);
        check.doCheck(force);
        if (finished.isEmpty()) {
            ASSERT_TRUE(finished.wait(20000));
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    QSslConfiguration savedSsl;
    replyServer server;
    std::unique_ptr<QWidget> window;
};

} // namespace

TEST(checkUpdatesParsing, versionNumbers)
{
    const struct {
        const char *text;
        int value;
    } cases[] = {{"3.12", 31200}, {"3.11.1", 31101}, {"4", 0},          {"1.2.3.4", 0},
                 {"", 0},         {"3..11", 31100},  {"10.0.5", 100005}};
    for (const auto &c : cases)
        EXPECT_EQ(parseVersion(c.text), c.value) << c.text;
}

TEST(checkUpdatesParsing, replyShapeAndLength)
{
    const QByteArray filler(4096, 'x');
    const struct {
        const char *name;
        QByteArray reply;
        bool valid;
    } cases[] = {
        {"five parts", "ok#3.12#01.2018#Faster merging#end", true},
        {"empty parts dropped", "##ok#3.12##01.2018#notes#end##", true},
        {"four parts", "ok#3.12#01.2018#notes and more", false},
        {"six parts", "ok#3.12#01.2018#notes#end#extra", false},
        {"too short", "a#3.2#b#c#d", false},
        {"too long", "ok#3.12#01.2018#" + filler + "#end", false},
        {"no separators", "just some text of a web page", false},
    };
    for (const auto &c : cases) {
        const updateReply_t r = parseUpdateReply(c.reply);
        EXPECT_EQ(r.valid, c.valid) << c.name;
    }
    const updateReply_t r = parseUpdateReply(QString::fromUtf8("x#3.12#01.2018#Schnellere Zusammenführung#y").toUtf8());
    ASSERT_TRUE(r.valid);
    EXPECT_EQ(r.version, "3.12");
    EXPECT_EQ(r.releaseDate, "01.2018");
    EXPECT_EQ(r.notes, QString::fromUtf8("Schnellere Zusammenführung"));
}

TEST(checkUpdatesParsing, onlyHttpsAddressesAndNoEmailAddress)
{
    const QUrl url = updateRequestUrl("https://lumidra.org/", "3.11.1");
    ASSERT_TRUE(url.isValid());
    EXPECT_EQ(url.scheme(), "https");
    EXPECT_EQ(url.path(), "/vercheck/index3.php");
    EXPECT_EQ(url.query(), "email=&ver=3.11.1");
    EXPECT_EQ(updateRequestUrl("https://example.test/base", "3.11.1").path(), "/base/vercheck/index3.php");
    for (const char *refused : {"http://lumidra.org", "ftp://lumidra.org", "lumidra.org", "", "https://"})
        EXPECT_FALSE(updateRequestUrl(refused, "3.11.1").isValid()) << refused;
}

TEST(checkUpdatesParsing, silentCheckNeverInTestsOrTheAutomaticRun)
{
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("LUMIDRA_TEST_MODE"));
    EXPECT_FALSE(checkUpdates::silentCheckAllowed(true, false)) << "test mode";
    const QByteArray saved = qgetenv("LUMIDRA_TEST_MODE");
    qunsetenv("LUMIDRA_TEST_MODE");
    const bool allowed = checkUpdates::silentCheckAllowed(true, false);
    const bool automatic = checkUpdates::silentCheckAllowed(true, true);
    const bool switchedOff = checkUpdates::silentCheckAllowed(false, false);
    qputenv("LUMIDRA_TEST_MODE", saved);
    EXPECT_TRUE(allowed);
    EXPECT_FALSE(automatic);
    EXPECT_FALSE(switchedOff);
}

TEST_F(checkUpdatesTest, newerVersionShowsTheDialogWithNotesAsPlainText)
{
    trustTestCertificate();
    server.body = "ok#3.12.0#01.2018#<b>Faster</b> <a href=\"http://evil.test\">merge</a>\nline two#end";
    checkUpdates check(window.get());
    runCheck(check, false); // a newer version shows even in a silent check
    EXPECT_TRUE(messages.empty());
    ASSERT_EQ(server.requestLines.size(), 1);
    const QByteArray line = server.requestLines[0];
    EXPECT_TRUE(line.startsWith("GET /vercheck/index3.php?email=&ver=3.11.1 HTTP/1.1")) << line.constData();

    checkUpdatesDialog *d = check.lastDialog();
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->isVisible());
    EXPECT_TRUE(d->isModal());
    EXPECT_FALSE(d->headerLabel->isHidden());
    EXPECT_FALSE(d->downloadRow->isHidden());
    EXPECT_FALSE(d->historyRow->isHidden());
    EXPECT_TRUE(d->noUpdatesLabel->isHidden());
    EXPECT_FALSE(d->notesLabel->isHidden());
    EXPECT_TRUE(d->releaseLabel->text().contains("3.12.0"));
    EXPECT_TRUE(d->releaseLabel->text().contains("01.2018"));
    // The notes' markup is shown as text: no link or bold from the network.
    EXPECT_TRUE(d->notesLabel->text().contains("&lt;b&gt;Faster&lt;/b&gt;"));
    EXPECT_FALSE(d->notesLabel->text().contains("<a "));
    EXPECT_TRUE(d->notesLabel->text().contains("<br>line two"));
    const QString server = options->misc.updateCheckAddress;
    EXPECT_TRUE(d->downloadRow->text().contains(server + "/download/"));
    EXPECT_TRUE(d->historyRow->text().contains(server + "/version/"));
    // The reply is gone.
    EXPECT_TRUE(check.findChildren<QNetworkReply *>().isEmpty());

    // Closing stores "Check automatically" and frees the dialog.
    options->misc.autoCheckUpdates = true;
    d->autoCheckBox->setChecked(false);
    QPointer<checkUpdatesDialog> watched(d);
    d->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(options->misc.autoCheckUpdates);
    EXPECT_TRUE(watched.isNull());
}

TEST_F(checkUpdatesTest, sameVersionIsReportedOnlyWhenAsked)
{
    trustTestCertificate();
    server.body = "ok#3.11.1#12.2017#These notes stay hidden#end";
    checkUpdates check(window.get());
    runCheck(check, false);
    EXPECT_EQ(check.lastDialog(), nullptr) << "a silent check with nothing new shows nothing";
    EXPECT_TRUE(messages.empty());

    runCheck(check, true);
    checkUpdatesDialog *d = check.lastDialog();
    ASSERT_NE(d, nullptr);
    EXPECT_FALSE(d->noUpdatesLabel->isHidden());
    EXPECT_TRUE(d->headerLabel->isHidden());
    EXPECT_TRUE(d->downloadRow->isHidden());
    EXPECT_TRUE(d->historyRow->isHidden());
    EXPECT_TRUE(d->notesLabel->isHidden());
    EXPECT_EQ(server.requestLines.size(), 2);
    EXPECT_TRUE(check.findChildren<QNetworkReply *>().isEmpty());
}

TEST_F(checkUpdatesTest, failuresAreReportedOnlyWhenAsked)
{
    const QString cannot = "Cannot check for updates due to network connection or server problem.";
    const QString unable = "Unable to check for updates.";
    const QByteArray filler(5000, 'y');
    const struct {
        const char *name;
        bool trusted;
        bool tls;
        QByteArray body;
        QString address; // empty: the test server over https
        QString expected;
    } cases[] = {
        {"four parts", true, true, "ok#3.12#01.2018#notes only", QString(), unable},
        {"longer than 4096", true, true, "ok#3.12#01.2018#" + filler + "#end", QString(), unable},
        {"untrusted certificate", false, true, "ok#3.12#01.2018#notes#end", QString(), cannot},
        {"server speaks no TLS", true, false, "ok#3.12#01.2018#notes#end", QString(), cannot},
        {"plain http address", true, false, "ok#3.12#01.2018#notes#end", "http://127.0.0.1:%1", cannot},
        {"nothing listening", true, true, "", "https://127.0.0.1:1", cannot},
    };
    const QString serverAddress = options->misc.updateCheckAddress;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QSslConfiguration::setDefaultConfiguration(savedSsl);
        if (c.trusted)
            trustTestCertificate();
        server.tls = c.tls;
        server.body = c.body;
        server.connections = 0;
        options->misc.updateCheckAddress =
            c.address.isEmpty() ? serverAddress : c.address.contains("%1") ? c.address.arg(server.serverPort()) : c.address;
        for (bool force : {false, true}) {
            messages.clear();
            checkUpdates check(window.get());
            runCheck(check, force);
            EXPECT_EQ(check.lastDialog(), nullptr);
            EXPECT_TRUE(check.findChildren<QNetworkReply *>().isEmpty());
            if (force) {
                ASSERT_EQ(messages.size(), 1u);
                EXPECT_EQ(messages[0].kind, styledMessageBox::Error);
                EXPECT_EQ(messages[0].text, c.expected);
            } else {
                EXPECT_TRUE(messages.empty()) << "a silent check reports nothing";
            }
        }
        if (QString(c.name) == "plain http address") {
            EXPECT_EQ(server.connections, 0) << "an http address is refused before connecting";
        }
    }
}

TEST_F(checkUpdatesTest, windowCommandChecksAndStartUpCheckStaysOffInTests)
{
    trustTestCertificate();
    server.body = "ok#3.11.1#12.2017#notes#end";
    options->misc.autoCheckUpdates = true;
    mainWindow w;
    w.splashFinished(nullptr);
    EXPECT_FALSE(w.updateCheck->busy()) << "no silent check in a test run";
    EXPECT_EQ(server.connections, 0);

    QSignalSpy finished(w.updateCheck, &checkUpdates::checkFinished);
    ASSERT_TRUE(w.checkUpdatesAct->isEnabled());
    w.checkUpdatesAct->trigger();
    ASSERT_TRUE(finished.wait(20000));
    ASSERT_NE(w.updateCheck->lastDialog(), nullptr);
    EXPECT_EQ(w.updateCheck->lastDialog()->parentWidget(), &w);
    EXPECT_FALSE(w.updateCheck->lastDialog()->noUpdatesLabel->isHidden());
}

TEST_F(mainWindowTest, updateAddressIsAStoredSettingWithAnHttpsDefault)
{
    EXPECT_EQ(options->misc.updateCheckAddress, "https://lumidra.org");
    EXPECT_TRUE(updateRequestUrl(options->misc.updateCheckAddress, "3.11.1").isValid());
    platformSettings()->setValue("Misc/UpdateCheckAddress", "https://updates.example.test/lumidra");
    programOptionsSettings stored;
    EXPECT_EQ(stored.misc.updateCheckAddress, "https://updates.example.test/lumidra");
}
