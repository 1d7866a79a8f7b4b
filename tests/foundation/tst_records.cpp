// Card and reader records: function codes, version texts, lookups, calculated fields, table
// routines, and creating/growing a card table.
#include "store/Records.h"
#include "store/ScriptedPrompter.h"
#include "store/TableRoutines.h"
#include "store/VtdFile.h"
#include "store/Workspace.h"
#include "TestUtil.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace kdr;

class TestRecords : public QObject {
    Q_OBJECT
private slots:
    void funcCode_data();
    void funcCode();
    void makeFuncCode();
    void versionText_data();
    void versionText();
    void parseVersion_data();
    void parseVersion();
    void readerCalculatedFields();
    void functionChoiceList();
    void textFieldsAreCutToTheirSize();
    void tableRoutines();
    void lastNonZeroRecNo_data();
    void lastNonZeroRecNo();
    void onlineFilter();
    void createNewTableAndGrow();
    void growLeavesOtherSizesAlone();
    void saveChangeParamKeepsPosition();
};

void TestRecords::funcCode_data()
{
    QTest::addColumn<QVariant>("code"); // invalid QVariant: NULL
    QTest::addColumn<QVariant>("r");
    QTest::addColumn<QString>("text");
    QTest::newRow("4F") << QVariant("4F") << QVariant(true) << "control function no. 80 with own serial number";
    QTest::newRow("03") << QVariant("03") << QVariant(false) << "free protocol 2";
    QTest::newRow("01") << QVariant("01") << QVariant(false) << "control function no. 1 with own serial number";
    QTest::newRow("46") << QVariant("46") << QVariant(true) << "control function no. 71 with own serial number";
    QTest::newRow("lower hex") << QVariant("0a") << QVariant(false) << "control function no. 75 with own serial number";
    QTest::newRow("extra chars") << QVariant("05xyz") << QVariant(false) << "free protocol 4";
    QTest::newRow("4 alone") << QVariant("4") << QVariant(true) << "door opener with AS address";
    QTest::newRow("4G") << QVariant("4G") << QVariant(true) << "door opener with AS address";
    QTest::newRow("0G keeps R") << QVariant("0G") << QVariant(true) << "door opener with AS address";
    QTest::newRow("empty") << QVariant("") << QVariant(true) << "door opener with AS address";
    QTest::newRow("NULL") << QVariant() << QVariant() << QString();
}

void TestRecords::funcCode()
{
    QFETCH(QVariant, code);
    QFETCH(QVariant, r);
    QFETCH(QString, text);
    CardTable t;
    t.resetToSlots(3);
    if (code.isValid()) t.setValue(1, CardField::FuncKDR, Value(code.toString()));
    const Value rv = t.value(1, CardField::FuncR_str);
    const Value tv = t.value(1, CardField::FuncKDR_str);
    if (!r.isValid()) {
        QVERIFY(rv.isNull());
        QVERIFY(tv.isNull());
        return;
    }
    QCOMPARE(rv.toBool(), r.toBool());
    QCOMPARE(tv.toText(), text);
}

void TestRecords::makeFuncCode()
{
    QCOMPARE(MakeFuncKDR(true, 15), QStringLiteral("4F"));
    QCOMPARE(MakeFuncKDR(false, 2), QStringLiteral("02"));
    for (int n = 0; n < 16; ++n)
        for (bool r : {false, true}) {
            const FuncCode f = ParseFuncKDR(MakeFuncKDR(r, n));
            QCOMPARE(f.r, r);
            QCOMPARE(f.number, n);
        }
}

void TestRecords::versionText_data()
{
    QTest::addColumn<int>("v");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "";
    QTest::newRow("0x206") << 0x206 << "2.0.6";
    QTest::newRow("0x20C") << 0x20C << "2.0.12";
    QTest::newRow("0x00C") << 0x00C << "0.0.12";
    QTest::newRow("0xFFF") << 0xFFF << "15.15.15";
    QTest::newRow("4 digits use the first three") << 0x1234 << "1.2.3";
}

void TestRecords::versionText()
{
    QFETCH(int, v);
    QFETCH(QString, text);
    QCOMPARE(FormatReaderVersion(v), text);
}

void TestRecords::parseVersion_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("v");
    QTest::newRow("2.0.12") << "2.0.12" << 0x20C;
    QTest::newRow("2.0.6") << "2.0.6" << 518;
    QTest::newRow("extra part") << "2.0.6.9" << 0x206;
    QTest::newRow("two parts") << "2.0" << 0;
    QTest::newRow("letters") << "2.x.6" << 0;
    QTest::newRow("empty") << "" << 0;
}

void TestRecords::parseVersion()
{
    QFETCH(QString, text);
    QFETCH(int, v);
    QCOMPARE(ParseReaderVersion(text), v);
}

void TestRecords::readerCalculatedFields()
{
    ReaderList list;
    list.setLocale(QLocale(QLocale::German));
    const int r = list.appendRecord();
    QVERIFY(list.value(r, ReaderField::RelayT_Calc).isNull());
    QVERIFY(list.value(r, ReaderField::REX_calc).isNull());
    list.setValue(r, ReaderField::RelayT, Value(qint32(1)));
    list.setValue(r, ReaderField::REX, Value(qint32(7)));
    list.setValue(r, ReaderField::Version, Value(qint32(0x20C)));
    QCOMPARE(list.value(r, ReaderField::RelayT_Calc).toText(), QStringLiteral("0,5"));
    QCOMPARE(list.value(r, ReaderField::REX_calc).toText(), QString());
    QCOMPARE(list.value(r, ReaderField::Version_calc).toText(), QStringLiteral("2.0.12"));
    list.setLocale(QLocale(QLocale::English));
    list.setValue(r, ReaderField::RelayT, Value(qint32(7)));
    list.setValue(r, ReaderField::REX, Value(qint32(2)));
    QCOMPARE(list.value(r, ReaderField::RelayT_Calc).toText(), QStringLiteral("3.5"));
    QCOMPARE(list.value(r, ReaderField::REX_calc).toText(), QStringLiteral("Door opener protocol"));
    list.setValue(r, ReaderField::RelayT, Value(qint32(4)));
    QCOMPARE(list.value(r, ReaderField::RelayT_Calc).toText(), QStringLiteral("2"));
    QCOMPARE(RelayTimeChoices().first(), QStringLiteral("0"));
    QCOMPARE(RelayTimeChoices().at(1), QStringLiteral("0,5"));
    QCOMPARE(RelayTimeChoices().last(), QStringLiteral("15"));
    QCOMPARE(RelayTimeChoices().size(), 31);
}

void TestRecords::functionChoiceList()
{
    const QStringList l = FunctionChoiceTexts();
    QCOMPARE(l.size(), 16);
    QCOMPARE(l.at(1), QStringLiteral("control function no. 1 with own serial number "));
    QCOMPARE(l.at(2), QStringLiteral("free protocol 1"));
    QCOMPARE(l.at(15), QStringLiteral("control function no. 80 with own serial number"));
}

void TestRecords::textFieldsAreCutToTheirSize()
{
    CardTable t;
    t.resetToSlots(1);
    t.setValue(0, CardField::MasterCard, Value(QStringLiteral("123456789012345")));
    QCOMPARE(t.value(0, CardField::MasterCard).toText(), QStringLiteral("1234567890"));
    t.setValue(0, CardField::CardHolder, Value(QString()));
    QVERIFY(!t.value(0, CardField::CardHolder).isNull());
    t.setValue(0, CardField::CardHolder, Value());
    QVERIFY(t.value(0, CardField::CardHolder).isNull());

    // A file name is never cut: the row must name the file that is there.
    ReaderList list;
    const QString longName = QString(80, QLatin1Char('r')) + QStringLiteral(".vtd");
    list.appendFromCardTable(longName, t);
    QCOMPARE(list.value(0, ReaderField::VtdFileN).toText(), longName);
    QCOMPARE(list.findFile(longName), 0);
}

void TestRecords::tableRoutines()
{
    CardTable t;
    t.resetToSlots(10);
    t.setCurrent(4);
    SetFieldValue(t, CardField::CardHolder, Value(QStringLiteral("Ann")));
    QCOMPARE(t.value(4, CardField::CardHolder).toText(), QStringLiteral("Ann"));

    SetFieldInAllRecords(t, CardField::IsCardChanged, Value(true));
    QCOMPARE(t.current(), 4);
    for (int r = 0; r < 10; ++r) QVERIFY(t.value(r, CardField::IsCardChanged).toBool());

    t.setValue(2, CardField::CardNoSaved, Value(qint32(77)));
    t.setValue(6, CardField::CardNoSaved, Value(qint32(99)));
    auto last = LastValueWhereFilled(t, CardField::CardNoSaved, CardField::ID);
    QVERIFY(last.has_value());
    QCOMPARE(last->toInt(), 7);
    QVERIFY(!LastValueWhereFilled(t, CardField::CardNoRead, CardField::ID).has_value());

    QSet<int> sel{0, 9};
    SelectRowsWithValue(t, CardField::CardNoSaved, sel, true);
    QCOMPARE(sel, (QSet<int>{0, 2, 6, 9}));
    SelectRowsWithValue(t, CardField::CardNoSaved, sel, false);
    QCOMPARE(sel, (QSet<int>{0, 9}));

    QStringList values{QStringLiteral("x")};
    QCOMPARE(CollectFieldValues(t, CardField::CardNoSaved, values), 3);
    QCOMPARE(values, (QStringList{"x", "77", "99"}));
    QCOMPARE(t.current(), 4);
}

void TestRecords::lastNonZeroRecNo_data()
{
    QTest::addColumn<QList<int>>("values"); // -1: NULL
    QTest::addColumn<int>("expected");
    QTest::newRow("last filled") << QList<int>{1, 2, 3} << 3;
    QTest::newRow("trailing zeros and NULLs") << QList<int>{5, 6, 0, -1} << 2;
    QTest::newRow("all NULL") << QList<int>{-1, -1, -1} << 0;
    QTest::newRow("first is 0, not NULL") << QList<int>{0, -1} << 1;
    QTest::newRow("only first") << QList<int>{8, 0, 0} << 1;
}

void TestRecords::lastNonZeroRecNo()
{
    QFETCH(QList<int>, values);
    QFETCH(int, expected);
    CardTable t;
    t.resetToSlots(int(values.size()));
    for (int i = 0; i < values.size(); ++i)
        if (values[i] >= 0) t.setValue(i, CardField::CardNoRead, Value(qint32(values[i])));
    QCOMPARE(LastNonZeroRecNo(t, CardField::CardNoRead), expected);
}

void TestRecords::onlineFilter()
{
    ReaderList list;
    CardTable cards;
    cards.resetToSlots(1);
    for (const char *n : {"a.vtd", "b.vtd", "c.vtd"}) list.appendFromCardTable(QString::fromLatin1(n), cards);
    list.setValue(1, ReaderField::Status, Value(kStatusOnline));
    QCOMPARE(list.visibleRecords().size(), 3);
    list.setCurrent(2);
    list.setFiltered(true);
    QCOMPARE(list.visibleRecords(), QList<int>{1});
    QCOMPARE(list.current(), 1); // the hidden current row gave way to the first visible one
    list.setFiltered(false);
    QCOMPARE(list.visibleRecords().size(), 3);
    QCOMPARE(list.findFile(QStringLiteral("c.vtd")), 2);
    QCOMPARE(list.findFile(QStringLiteral("C.vtd")), -1);
}

void TestRecords::createNewTableAndGrow()
{
    QTemporaryDir dir;
    Workspace ws(dir.filePath(QStringLiteral("KDR02.x64")));
    ScriptedPrompter prompts;
    ws.setPrompter(&prompts);
    QSignalSpy buttons(&ws, &Workspace::buttonStateChanged);
    const QString file = ws.activeFolderPath() + QStringLiteral("12345.vtd");
    QVERIFY(ws.CreateNewTable(file));
    QCOMPARE(buttons.count(), 1);
    QCOMPARE(ws.readerBaseName(), QStringLiteral("12345"));
    QCOMPARE(ws.cards.recordCount(), 2000);
    QCOMPARE(QFileInfo(file).size(), 200466);
    for (int r : {0, 999, 1999}) {
        QCOMPARE(ws.cards.value(r, CardField::ID).toInt(), r + 1);
        for (int f = 1; f < CardField::Count; ++f) QVERIFY(ws.cards.value(r, f).isNull());
    }

    // The reader list row names the file that growing saves to.
    ws.readers.appendFromCardTable(QStringLiteral("12345.vtd"), ws.cards);
    ws.readers.setCurrent(0);
    ws.CheckAndAppendTable();
    QCOMPARE(ws.cards.recordCount(), 4000);
    QCOMPARE(ws.cards.value(3999, CardField::ID).toInt(), 4000);
    QCOMPARE(ws.cards.current(), 0);
    QCOMPARE(QFileInfo(file).size(), 400466);
    QCOMPARE(ws.log.lines().count(QStringLiteral("> Applied 4000 possible cards.")), 1);

    ws.CheckAndAppendTable();
    QCOMPARE(ws.cards.recordCount(), 4000);
    QCOMPARE(ws.log.lines().count(QStringLiteral("> Applied 4000 possible cards.")), 1);
    QVERIFY(prompts.asked.isEmpty());
}

void TestRecords::growLeavesOtherSizesAlone()
{
    QTemporaryDir dir;
    Workspace ws(dir.filePath(QStringLiteral("KDR02.x64")));
    ws.cards.resetToSlots(1999);
    ws.CheckAndAppendTable();
    QCOMPARE(ws.cards.recordCount(), 1999);
    QVERIFY(ws.log.lines().isEmpty());
}

void TestRecords::saveChangeParamKeepsPosition()
{
    QTemporaryDir dir;
    Workspace ws(dir.filePath(QStringLiteral("KDR02.x64")));
    QVERIFY(ws.CreateNewTable(ws.activeFolderPath() + QStringLiteral("7.vtd")));
    ws.readers.appendFromCardTable(QStringLiteral("7.vtd"), ws.cards);
    ws.readers.setCurrent(0);
    ws.readers.setValue(0, ReaderField::ChangeParam, Value(true));
    ws.cards.setCurrent(56);
    ws.SaveChangeParamToTable();
    QCOMPARE(ws.cards.current(), 56);
    CardTable back;
    QVERIFY(readVtdFile(ws.readerFilePath(), back).ok);
    QCOMPARE(back.value(0, CardField::IsParamChanged).isBool(), true);
    QVERIFY(back.value(0, CardField::IsParamChanged).toBool());
}

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
