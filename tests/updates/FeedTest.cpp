#include "TestEnvironment.h"
#include "UpdateTestSupport.h"
#include "updates/DownloadUpdateDelegate.h"
#include "updates/InstallerCheck.h"
#include "updates/UpdateError.h"
#include "updates/UpdateFeed.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

const QString host = u"updates.example"_s;
const QString digest = QString(64, u'a');

QJsonObject release(const QString &version, const QString &url = {})
{
    return UpdateRelease{version,
                         url.isEmpty() ? u"https://updates.example/files/Kestro-"_s + version + u".AppImage"_s : url,
                         digest, u"Fixes."_s, u"https://updates.example/releases/"_s + version}
        .toJson();
}

QJsonObject feedOf(const QJsonArray &releases)
{
    return QJsonObject{{u"v"_s, 1}, {u"releases"_s, releases}};
}

bool accepted(const SignedEnvelope &envelope, const QByteArray &key)
{
    try {
        UpdateFeed::verify(envelope, key, host);
        return true;
    } catch (const UpdateError &error) {
        EXPECT_EQ(error.kind(), UpdateError::Kind::invalidFeed);
        return false;
    }
}

QByteArray fromHex(const char *hex)
{
    return QByteArray::fromHex(hex);
}

} // namespace

TEST(UpdateVersion, ParsesOnlyPlainThreePartVersions)
{
    const struct { QString text; bool valid; } cases[] = {
        {u"1.2.3"_s, true},           {u"10.0.0"_s, true},       {u"01.2.3"_s, false},
        {u"1.02.3"_s, false},         {u"1.2"_s, false},         {u"1.2.3.4"_s, false},
        {u"0.1.0"_s, false},          {u"1.2.3-beta"_s, false},  {u"1.2.3 "_s, false},
        {u"v1.2.3"_s, false},         {u""_s, false},            {u"1.2.3\n"_s, false},
        {u"1.0."_s + QString(28, u'1'), false},                  // 32 characters, beyond 64 bits
        {u"1.0."_s + QString(29, u'1'), false},                  // 33 characters
        {u"9223372036854775807.0.0"_s, true},
        {u"9223372036854775808.0.0"_s, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(UpdateRelease::parts(c.text).has_value(), c.valid) << c.text.toStdString();
    EXPECT_EQ(*UpdateRelease::parts(u"1.20.3"_s), (std::array<qint64, 3>{1, 20, 3}));
}

TEST(UpdateVersion, ComparesPartByPart)
{
    const struct { QString a; QString b; bool newer; } cases[] = {
        {u"2.0.0"_s, u"1.99.99"_s, true}, {u"1.10.0"_s, u"1.9.0"_s, true},
        {u"1.9.0"_s, u"1.10.0"_s, false}, {u"1.2.3"_s, u"1.2.3"_s, false},
        {u"1.2.4"_s, u"1.2.3"_s, true},   {u"2.0.0"_s, u"1.2"_s, false},
        {u"1.2"_s, u"1.0.0"_s, false},    {u"1.0.0"_s, u"0.0.0"_s, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(UpdateRelease::newer(c.a, c.b), c.newer) << c.a.toStdString() << " vs " << c.b.toStdString();
}

TEST(UpdateBase64Url, DecodesOnlyUnpaddedUrlAlphabet)
{
    const struct { QString text; std::optional<QByteArray> bytes; } cases[] = {
        {u"AQID"_s, QByteArray("\x01\x02\x03")}, {u"-_8"_s, QByteArray("\xfb\xff")},
        {u"YQ"_s, QByteArray("a")},              {u"YQ=="_s, std::nullopt},
        {u""_s, std::nullopt},                   {u"a+b/"_s, std::nullopt},
        {u"YWJj ZA"_s, std::nullopt},            {u"YWJjZ"_s, std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SignedEnvelope::base64UrlDecode(c.text), c.bytes) << c.text.toStdString();
}

TEST(UpdateSignature, Rfc8032TestVector)
{
    const QByteArray key = fromHex("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a");
    QByteArray signature = fromHex("e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e06522490155"
                                   "5fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b");
    EXPECT_TRUE(UpdateFeed::verifySignature({}, signature, key));
    EXPECT_FALSE(UpdateFeed::verifySignature("x", signature, key));
    EXPECT_FALSE(UpdateFeed::verifySignature({}, signature, key.left(31)));
    signature[10] = char(signature[10] ^ 1);
    EXPECT_FALSE(UpdateFeed::verifySignature({}, signature, key));
}

TEST(UpdateFeedVerify, ChecksEveryRelease)
{
    const TestSigner signer;
    using Edit = std::function<void(QJsonObject &)>;
    auto first = [](const std::function<void(QJsonObject &)> &change) -> Edit {
        return [change](QJsonObject &feed) {
            QJsonArray list = feed.value(u"releases"_s).toArray();
            QJsonObject entry = list.at(0).toObject();
            change(entry);
            list[0] = entry;
            feed[u"releases"_s] = list;
        };
    };
    auto setKey = [&](const QString &key, const QJsonValue &value) {
        return first([key, value](QJsonObject &entry) { entry[key] = value; });
    };
    const struct { const char *name; Edit edit; bool valid; } cases[] = {
        {"valid", [](QJsonObject &) {}, true},
        {"empty list", [](QJsonObject &f) { f[u"releases"_s] = QJsonArray(); }, true},
        {"unknown keys ignored", [](QJsonObject &f) { f[u"extra"_s] = 5; }, true},
        {"capital extension", setKey(u"url"_s, u"https://updates.example/a/K.APPIMAGE"_s), true},
        {"query after extension", setKey(u"url"_s, u"https://UPDATES.example/K.AppImage?x=1"_s), true},
        {"duplicate major", [](QJsonObject &f) {
             f[u"releases"_s] = QJsonArray{release(u"2.0.0"_s), release(u"2.1.0"_s)}; }, false},
        {"nine releases", [](QJsonObject &f) {
             QJsonArray list;
             for (int major = 1; major <= 9; ++major)
                 list.append(release(QString::number(major) + u".0.0"_s));
             f[u"releases"_s] = list; }, false},
        {"eight releases", [](QJsonObject &f) {
             QJsonArray list;
             for (int major = 1; major <= 8; ++major)
                 list.append(release(QString::number(major) + u".0.0"_s));
             f[u"releases"_s] = list; }, true},
        {"v 2", [](QJsonObject &f) { f[u"v"_s] = 2; }, false},
        {"v as text", [](QJsonObject &f) { f[u"v"_s] = u"1"_s; }, false},
        {"no releases key", [](QJsonObject &f) { f.remove(u"releases"_s); }, false},
        {"plain http", setKey(u"url"_s, u"http://updates.example/K.AppImage"_s), false},
        {"fragment", setKey(u"url"_s, u"https://updates.example/K.AppImage#x"_s), false},
        {"user info", setKey(u"url"_s, u"https://me@updates.example/K.AppImage"_s), false},
        {"password", setKey(u"url"_s, u"https://me:pw@updates.example/K.AppImage"_s), false},
        {"other host", setKey(u"url"_s, u"https://evil.example/K.AppImage"_s), false},
        {"dmg extension", setKey(u"url"_s, u"https://updates.example/K.dmg"_s), false},
        {"no extension", setKey(u"url"_s, u"https://updates.example/AppImage"_s), false},
        {"relative url", setKey(u"url"_s, u"/K.AppImage"_s), false},
        {"details on other host", setKey(u"detailsURL"_s, u"https://evil.example/"_s), false},
        {"details over http", setKey(u"detailsURL"_s, u"http://updates.example/"_s), false},
        {"upper-case digest", setKey(u"sha256"_s, QString(64, u'A')), false},
        {"short digest", setKey(u"sha256"_s, QString(63, u'a')), false},
        {"bad version", setKey(u"version"_s, u"2.0"_s), false},
        {"version as number", setKey(u"version"_s, 2), false},
        {"missing notes", first([](QJsonObject &e) { e.remove(u"notes"_s); }), false},
        {"notes of 2000", setKey(u"notes"_s, QString(2000, u'n')), true},
        {"notes of 2001", setKey(u"notes"_s, QString(2001, u'n')), false},
        {"release not an object", [](QJsonObject &f) { f[u"releases"_s] = QJsonArray{1}; }, false},
    };
    for (const auto &c : cases) {
        QJsonObject feed = feedOf({release(u"2.0.0"_s), release(u"3.1.0"_s)});
        c.edit(feed);
        EXPECT_EQ(accepted(signer.envelope(feed), signer.publicKey()), c.valid) << c.name;
    }
}

TEST(UpdateFeedVerify, SignatureCoversThePrefixedPayloadText)
{
    const TestSigner signer;
    const TestSigner other;
    const QByteArray json = QJsonDocument(feedOf({release(u"2.0.0"_s)})).toJson(QJsonDocument::Compact);
    const SignedEnvelope good = signer.envelope(json);
    ASSERT_TRUE(accepted(good, signer.publicKey()));

    const struct { const char *name; SignedEnvelope envelope; QByteArray key; } cases[] = {
        {"over decoded bytes", {good.payload, SignedEnvelope::base64UrlEncode(signer.sign("Kestro-Update-v1." + json))}, signer.publicKey()},
        {"without prefix", {good.payload, SignedEnvelope::base64UrlEncode(signer.sign(good.payload.toUtf8()))}, signer.publicKey()},
        {"other key", good, other.publicKey()},
        {"key of 31 bytes", good, signer.publicKey().left(31)},
        {"signature of 63 bytes", {good.payload, SignedEnvelope::base64UrlEncode(signer.sign("Kestro-Update-v1." + good.payload.toUtf8()).left(63))}, signer.publicKey()},
        {"padded signature", {good.payload, good.signature + u"=="_s}, signer.publicKey()},
        {"padded payload", {good.payload + u"="_s, good.signature}, signer.publicKey()},
        {"signed but not JSON", signer.envelope(QByteArray("not json")), signer.publicKey()},
    };
    for (const auto &c : cases)
        EXPECT_FALSE(accepted(c.envelope, c.key)) << c.name;
}

TEST(UpdateFeedVerify, PayloadSizeLimit)
{
    const TestSigner signer;
    const QByteArray compact = QJsonDocument(feedOf({release(u"2.0.0"_s)})).toJson(QJsonDocument::Compact);
    // 49,152 JSON bytes encode to exactly 65,536 base64url characters.
    QByteArray json = compact;
    json.insert(1, QByteArray(49152 - compact.size(), ' '));
    const SignedEnvelope atLimit = signer.envelope(json);
    ASSERT_EQ(atLimit.payload.size(), 65536);
    EXPECT_TRUE(accepted(atLimit, signer.publicKey()));

    // One character more; signed properly, so only the size rule can refuse it.
    const QString payload = atLimit.payload + u"A"_s;
    const SignedEnvelope over{payload, SignedEnvelope::base64UrlEncode(signer.sign("Kestro-Update-v1." + payload.toUtf8()))};
    EXPECT_FALSE(accepted(over, signer.publicKey()));
}

TEST(DownloadUpdateDelegateRule, ProceedsOnlyForStrictlyNewerOffers)
{
    const struct { QString running; QString offered; bool proceeds; } cases[] = {
        {u"1.0.0"_s, u"1.0.1"_s, true}, {u"1.0.0"_s, u"1.0.0"_s, false},
        {u"1.2.0"_s, u"1.1.9"_s, false}, {u""_s, u"2.0.0"_s, false},
        {u"1.0.0"_s, u""_s, false},      {u"1.0"_s, u"2.0.0"_s, false},
    };
    for (const auto &c : cases) {
        bool proceeded = true;
        try {
            DownloadUpdateDelegate::shouldProceedWithUpdate(c.running, c.offered);
        } catch (const UpdateError &error) {
            proceeded = false;
            EXPECT_EQ(error.kind(), UpdateError::Kind::invalidFeed);
        }
        EXPECT_EQ(proceeded, c.proceeds) << c.running.toStdString() << " -> " << c.offered.toStdString();
    }
}

TEST(InstallerCheckVerify, SizeAndExactLowerCaseDigest)
{
    const QByteArray content("installer body");
    const QString hex = QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
    const QString file = TestEnvironment::writeFile(TestEnvironment::root() + u"/in/a.AppImage"_s, content);
    const QString empty = TestEnvironment::writeFile(TestEnvironment::root() + u"/in/empty"_s, {});
    const QString emptyHex = QString::fromLatin1(QCryptographicHash::hash({}, QCryptographicHash::Sha256).toHex());

    EXPECT_NO_THROW(InstallerCheck::verifyInstaller(file, hex));
    EXPECT_THROW(InstallerCheck::verifyInstaller(file, hex.toUpper()), UpdateError);
    EXPECT_THROW(InstallerCheck::verifyInstaller(file, emptyHex), UpdateError);
    EXPECT_THROW(InstallerCheck::verifyInstaller(empty, emptyHex), UpdateError);
    EXPECT_THROW(InstallerCheck::verifyInstaller(TestEnvironment::root() + u"/in/missing"_s, hex), FileError);
}
