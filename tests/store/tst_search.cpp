// The two search boxes: fields, hints, search values, the search step with its wrap-around, errors.
#include "StoreFixture.h"

#include "store/Search.h"

#include <QtTest>

using namespace kdr;
using namespace storetest;

class TestSearch : public QObject {
    Q_OBJECT
private slots:
    void fieldLists();
    void boxText();
    void readerSearch_data();
    void readerSearch();
    void cardSearch_data();
    void cardSearch();
    void searchErrors_data();
    void searchErrors();
    void onlineFilterLimitsSearch();
    void compareCards();

private:
    void fillReaders(Fixture &f);
    void fillCards(Fixture &f);
};

void TestSearch::fieldLists()
{
    const QString crlf = "\r\n";
    QStringList items;
    for (const auto &fd : readerSearchFields()) items << fd.item;
    QCOMPARE(items, QStringList({"File name (*.vtd)", "KDR serial", "Version", "AS address", "Relay time", "REX function",
                                 "Master card", "Note", "NOT Check A-line", "Reader mode", "Params set for change"}));
    items.clear();
    for (const auto &fd : cardSearchFields()) items << fd.item;
    QCOMPARE(items, QStringList({"ID", "Card saved", "Card read", "Person", "R/Card function", "Card set for change"}));

    // What each box accepts: digits only, or any text.
    QList<bool> digits;
    for (const auto &fd : readerSearchFields()) digits << fd.digitsOnly;
    QCOMPARE(digits, QList<bool>({false, true, false, true, true, true, true, false, true, true, true}));
    digits.clear();
    for (const auto &fd : cardSearchFields()) digits << fd.digitsOnly;
    QCOMPARE(digits, QList<bool>({true, true, true, false, false, true}));

    const QString boolHint = "[0] = False" + crlf + "[1] = True";
    QCOMPARE(readerSearchFields()[5].hint, "[0] = Door open sensor" + crlf + "[1] = Light switch protocol" + crlf +
                                               "[2] = Door opener protocol" + crlf + "[3] = Control function 3");
    for (int i : {8, 9, 10}) QCOMPARE(readerSearchFields()[i].hint, boolHint);
    for (int i : {0, 1, 2, 3, 4, 6, 7}) QVERIFY(readerSearchFields()[i].hint.isEmpty());
    QCOMPARE(cardSearchFields()[5].hint, boolHint);
    const QStringList fn = cardSearchFields()[4].hint.split(crlf);
    QCOMPARE(fn.size(), 18);
    QCOMPARE(fn[0], QString("[4x] = R True"));
    QCOMPARE(fn[1], QString("[x0] = door opener with AS address"));
    QCOMPARE(fn[2], QString("[x1] = control function no. 1 with own serial number"));
    QCOMPARE(fn[3], QString("[x2] = free protocol 1"));
    QCOMPARE(fn[6], QString("[x5] = free protocol 4"));
    QCOMPARE(fn[7], QString("[x6] = control function no. 71 with own serial number"));
    QCOMPARE(fn[16], QString("[xF] = control function no. 80 with own serial number"));
    QCOMPARE(fn[17], QString("[x] can be any number (ex. 0 for [4x])"));
}

void TestSearch::boxText()
{
    QCOMPARE(searchBoxText("0"), QString());
    QCOMPARE(searchBoxText("10"), QString("10"));
    QCOMPARE(searchBoxText("00"), QString("00"));
    QCOMPARE(searchBoxText("site"), QString("site"));
}

void TestSearch::fillReaders(Fixture &f)
{
    ReaderList &r = f.ws->readers;
    struct Row { const char *file; qint32 serial; qint32 version; qint32 relay; qint32 rex; const char *master; const char *note; bool change; };
    const Row rows[] = {
        {"Alpha.vtd", 11, 0x206, 2, 0, "12345", "Front door", false},
        {"MySite.vtd", 22, 0x20C, 6, 1, "98765", "[Click to change]", true},
        {"Beta.vtd", 33, 0x206, 4, 3, "11111", "back DOOR", false},
        {"SITE2.vtd", 44, 0, 6, 2, "", "", true},
    };
    for (const Row &x : rows) {
        const int n = r.appendRecord();
        r.setValue(n, ReaderField::VtdFileN, QString(x.file));
        r.setValue(n, ReaderField::KDRSerial, Value(x.serial));
        r.setValue(n, ReaderField::Status, kStatusOffline);
        r.setValue(n, ReaderField::Version, Value(x.version));
        r.setValue(n, ReaderField::RelayT, Value(x.relay));
        r.setValue(n, ReaderField::REX, Value(x.rex));
        r.setValue(n, ReaderField::MasterCard, QString(x.master));
        r.setValue(n, ReaderField::Note, QString(x.note));
        r.setValue(n, ReaderField::ChangeParam, Value(x.change));
        QVERIFY(writeReader(f.path(x.file), x.serial));
    }
    r.setCurrent(0);
}

void TestSearch::readerSearch_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("start");
    QTest::addColumn<QList<int>>("steps"); // the selected row after each press; -1: not found, stays
    QTest::newRow("file name, contains, wraps") << 0 << "site" << 0 << QList<int>{1, 3, 1, 3};
    QTest::newRow("serial") << 1 << "33" << 0 << QList<int>{2, 2};
    QTest::newRow("serial not found") << 1 << "99" << 1 << QList<int>{-1};
    QTest::newRow("version text") << 2 << "2.0.12" << 0 << QList<int>{1, 1};
    QTest::newRow("relay time in seconds") << 4 << "3" << 0 << QList<int>{1, 3, 1};
    QTest::newRow("REX") << 5 << "3" << 3 << QList<int>{2};
    QTest::newRow("master card, case kept") << 6 << "11" << 0 << QList<int>{2};
    QTest::newRow("note, any case") << 7 << "door" << 1 << QList<int>{2, 0, 2};
    QTest::newRow("params set for change") << 10 << "1" << 0 << QList<int>{1, 3};
    QTest::newRow("params not set") << 10 << "5" << 1 << QList<int>{2, 0};
}

void TestSearch::readerSearch()
{
    QFETCH(int, field);
    QFETCH(QString, text);
    QFETCH(int, start);
    QFETCH(QList<int>, steps);
    Fixture f;
    fillReaders(f);
    f.store->selectReader(start);
    for (int expected : steps) {
        const bool found = f.store->searchReaders(field, text);
        QCOMPARE(found, expected >= 0);
        const int now = expected >= 0 ? expected : start;
        QCOMPARE(f.ws->readers.current(), now);
        // A found reader is the selected one, its file in the card table.
        QCOMPARE(f.ws->readerBaseName(), QFileInfo(f.ws->readers.storedValue(now, ReaderField::VtdFileN).toText()).completeBaseName());
        QCOMPARE(f.cardsSerial(), f.ws->readers.storedValue(now, ReaderField::KDRSerial).toInt());
    }
    QVERIFY(f.prompter.asked.isEmpty());
}

void TestSearch::fillCards(Fixture &f)
{
    CardTable &c = f.ws->cards;
    c.resetToSlots(kSlots2000);
    c.setValue(9, CardField::CardHolder, QString("Joanna"));
    c.setValue(99, CardField::CardHolder, QString("ANNA"));
    c.setValue(199, CardField::CardHolder, QString("Bob"));
    c.setValue(9, CardField::CardNoSaved, Value(qint32(500)));
    c.setValue(1599, CardField::CardNoSaved, Value(qint32(500)));
    c.setValue(49, CardField::CardNoRead, Value(qint32(700)));
    c.setValue(29, CardField::FuncKDR, QString("4A"));
    c.setValue(39, CardField::FuncKDR, QString("4a0"));
    c.setValue(300, CardField::IsCardChanged, Value(true));
    c.setValue(301, CardField::IsCardChanged, Value(false));
}

void TestSearch::cardSearch_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("start");
    QTest::addColumn<QList<int>>("steps"); // the current slot ID after each press
    QTest::newRow("ID from anywhere") << 0 << "1500" << 1800 << QList<int>{1500, 1500};
    QTest::newRow("ID from before") << 0 << "1500" << 3 << QList<int>{1500};
    QTest::newRow("saved, wraps") << 1 << "500" << 1 << QList<int>{10, 1600, 10};
    QTest::newRow("read") << 2 << "700" << 1 << QList<int>{50};
    QTest::newRow("person, any case") << 3 << "ann" << 1 << QList<int>{10, 100, 10};
    QTest::newRow("function, equal any case") << 4 << "4a" << 1 << QList<int>{30, 30};
    QTest::newRow("set for change") << 5 << "1" << 1 << QList<int>{301};
    QTest::newRow("not set for change") << 5 << "7" << 1 << QList<int>{302};
    QTest::newRow("not found stays") << 3 << "zed" << 77 << QList<int>{77};
}

void TestSearch::cardSearch()
{
    QFETCH(int, field);
    QFETCH(QString, text);
    QFETCH(int, start);
    QFETCH(QList<int>, steps);
    Fixture f;
    fillCards(f);
    f.ws->cards.setCurrent(start - 1);
    for (int id : steps) {
        f.store->searchCards(field, text);
        QCOMPARE(f.ws->cards.storedValue(f.ws->cards.current(), CardField::ID).toInt(), id);
    }
    QVERIFY(f.prompter.asked.isEmpty());
}

void TestSearch::searchErrors_data()
{
    QTest::addColumn<bool>("cards");
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("text");
    QTest::newRow("reader serial empty") << false << 1 << "";
    QTest::newRow("reader serial too large") << false << 1 << "99999999999";
    QTest::newRow("relay time too large") << false << 4 << "2000000000";
    QTest::newRow("card ID empty") << true << 0 << "";
    QTest::newRow("card saved too large") << true << 1 << "4294967296";
}

void TestSearch::searchErrors()
{
    QFETCH(bool, cards);
    QFETCH(int, field);
    QFETCH(QString, text);
    Fixture f;
    fillReaders(f);
    fillCards(f);
    f.store->selectReader(2);
    f.ws->cards.setCurrent(41);
    const bool found = cards ? f.store->searchCards(field, text) : f.store->searchReaders(field, text);
    QVERIFY(!found);
    QCOMPARE(f.prompter.asked.size(), 1);
    QCOMPARE(f.prompter.asked[0].type, DlgType::Error);
    QVERIFY(f.prompter.asked[0].text.contains(cards ? cardSearchFields()[field].item : readerSearchFields()[field].item));
    QCOMPARE(f.ws->readers.current(), 2);
    QCOMPARE(f.ws->cards.current(), 41);
}

void TestSearch::onlineFilterLimitsSearch()
{
    Fixture f;
    fillReaders(f);
    f.ws->readers.setValue(3, ReaderField::Status, kStatusOnline);
    f.ws->readers.setValue(0, ReaderField::Status, kStatusOnline);
    f.ws->readers.setFiltered(true);
    f.store->selectReader(0);
    QVERIFY(f.store->searchReaders(0, "site"));
    QCOMPARE(f.ws->readers.current(), 3); // MySite.vtd is hidden by the filter
    QVERIFY(f.store->searchReaders(0, "site"));
    QCOMPARE(f.ws->readers.current(), 3);
    QVERIFY(!f.store->searchReaders(0, "beta"));
}

void TestSearch::compareCards()
{
    Fixture f;
    fillCards(f);
    CardTable &c = f.ws->cards;
    c.setValue(0, CardField::CardNoSaved, Value(qint32(100)));
    c.setValue(0, CardField::CardNoRead, Value(qint32(200)));
    c.setValue(1, CardField::CardNoSaved, Value(qint32(100)));
    c.setValue(2, CardField::CardNoSaved, Value(qint32(100)));
    c.setValue(2, CardField::CardNoRead, Value(qint32(100)));
    c.setValue(3, CardField::CardNoRead, Value(qint32(0)));
    QVERIFY(cardDiffersFromRead(c, 0));
    QVERIFY(!cardDiffersFromRead(c, 1)); // nothing read
    QVERIFY(!cardDiffersFromRead(c, 2));
    QVERIFY(!cardDiffersFromRead(c, 3)); // read 0 equals an empty saved slot
    QVERIFY(cardDiffersFromRead(c, 49));
    QSignalSpy spy(f.store.get(), &ReaderStore::compareCardsChanged);
    f.store->setCompareCards(true);
    QVERIFY(f.store->compareCards());
    QCOMPARE(spy.count(), 1);
}

QTEST_GUILESS_MAIN(TestSearch)
#include "tst_search.moc"
