// Telegram builders and answer-line helpers, byte for byte.
#include "bus/Codec.h"
#include "bus/LineBuffer.h"
#include "store/ScriptedPrompter.h"

#include <QTest>

using namespace kdr;
using namespace kdr::Codec;

class TestCodec : public QObject {
    Q_OBJECT
private slots:
    void lineBuffer_data();
    void lineBuffer();
    void builders_data();
    void builders();
    void initTelegramIsSevenBytes();
    void scanTelegrams();
    void normalizeLine_data();
    void normalizeLine();
    void hlxLeadRemoval_data();
    void hlxLeadRemoval();
    void fields_data();
    void fields();
    void hexToInt_data();
    void hexToInt();
    void hexToIntRejects_data();
    void hexToIntRejects();
    void acknowledges();
    void freeProtocolField_data();
    void freeProtocolField();
    void hexToBin_data();
    void hexToBin();
    void binToHex_data();
    void binToHex();
};

// Payload between "SOH space" and EOT; the frame itself is checked once per row.
void TestCodec::builders_data()
{
    QTest::addColumn<QByteArray>("telegram");
    QTest::addColumn<QByteArray>("payload");
    const qint32 s = 123456;
    QTest::newRow("init 9600") << MakeHlxTelegram(HlxInitWord, -1, false) << QByteArray("580B");
    QTest::newRow("search 9600") << MakeHlxTelegram(HlxSearchWord, -1, false) << QByteArray("5200");
    QTest::newRow("reset 9600") << MakeHlxTelegram(HlxResetWord, -1, false) << QByteArray("5100");
    QTest::newRow("page select") << MakeHlxTelegram(FirstPage, s, true) << QByteArray("8101E240");
    QTest::newRow("subpage select") << MakeHlxTelegram(FirstSubPage, -1, false) << QByteArray("8110");
    QTest::newRow("read location") << MakeHlxTelegram(FirstLocation, -1, false) << QByteArray("8402");
    QTest::newRow("version 9600") << MakeHlxSerialTelegram(s, "5", "C0") << QByteArray("51E240C0");
    QTest::newRow("count 9600") << MakeHlxSerialTelegram(s, "6", "C8") << QByteArray("61E240C8");
    QTest::newRow("write part") << MakeHlxSerialTelegram(0x8402, "", "40FF") << QByteArray("840240FF");
    QTest::newRow("search mbus") << MakeMBusTelegram(0, MBusSearchData)
                                 << QByteArray("FFFFFF0000000400000B020103080000FE0000000000");
    QTest::newRow("version mbus") << MakeMBusTelegram(s, MBusVersionData) << QByteArray("FFFFFF01E240040000010D00");
    QTest::newRow("count mbus") << MakeMBusTelegram(s, MBusCardCountData) << QByteArray("FFFFFF01E2400C000001C800");
    QTest::newRow("reset mbus") << MakeMBusTelegram(s, MBusResetData) << QByteArray("FFFFFF01E240020000010000");
    QTest::newRow("read params") << MakeMBusReadTelegram(s, 0) << QByteArray("FFFFFF01E2400600000600000000002000");
    QTest::newRow("read first cards") << MakeMBusReadTelegram(s, 256) << QByteArray("FFFFFF01E2400600000600000001008000");
    QTest::newRow("read cards 288") << MakeMBusReadTelegram(s, 288) << QByteArray("FFFFFF01E2400600000600000001202000");
    QTest::newRow("write one card") << MakeMBusWriteTelegram(s, 256, "40FFFF09FBF1FFFF")
                                    << QByteArray("FFFFFF01E2400800000D000000010040FFFF09FBF1FFFF00");
    // Edge cases: minimal and padded zero, the bare value, widths never truncate.
    QTest::newRow("zero unpadded") << MakeHlxTelegram(0, -1, false) << QByteArray("0");
    QTest::newRow("page sub 0 padded") << MakeHlxTelegram(0x0810, 0, true) << QByteArray("81000000");
    QTest::newRow("serial minimal") << MakeHlxSerialTelegram(5, "", "") << QByteArray("5");
    QTest::newRow("wide serial page") << MakeHlxTelegram(0x0810, 0x123456, true) << QByteArray("810123456");
    QTest::newRow("wide serial version") << MakeHlxSerialTelegram(0x123456, "5", "C0") << QByteArray("5123456C0");
    QTest::newRow("padded no sub") << MakeHlxTelegram(0x580B, -1, true) << QByteArray("0000580B");
    QTest::newRow("mbus params write length")
        << MakeMBusWriteTelegram(1, 0, QString(64, QLatin1Char('0')))
        << QByteArray("FFFFFF000001080000250000000000") + QByteArray(64, '0') + QByteArray("00");
}

void TestCodec::builders()
{
    QFETCH(QByteArray, telegram);
    QFETCH(QByteArray, payload);
    QVERIFY2(telegram.size() >= 3, telegram.constData());
    QCOMPARE(telegram.at(0), '\x01');
    QCOMPARE(telegram.at(1), ' ');
    QCOMPARE(telegram.back(), '\x04');
    QCOMPARE(telegram.mid(2, telegram.size() - 3), payload);
    QCOMPARE(NormalizeLine(telegram), QString::fromLatin1(payload));
}

void TestCodec::initTelegramIsSevenBytes()
{
    QCOMPARE(MakeHlxTelegram(HlxInitWord, -1, false), QByteArray("\x01\x20\x35\x38\x30\x42\x04", 7));
}

void TestCodec::scanTelegrams()
{
    QCOMPARE(ScanTelegram, QByteArray("\x01.3F\x04", 5));
    QCOMPARE(MBusScanTelegram, QByteArray("\x01-\x04", 3));
    QCOMPARE(NormalizeLine(ScanTelegram), QStringLiteral(".3F"));
    QCOMPARE(NormalizeLine(MBusScanTelegram), QStringLiteral("-"));
}

void TestCodec::normalizeLine_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("normalized");
    QTest::newRow("telegram") << QByteArray("\x01 5200\x04") << QStringLiteral("5200");
    QTest::newRow("crlf and blanks") << QByteArray("  \r\nAB CD\r\n\x04") << QStringLiteral("AB CD");
    QTest::newRow("inside kept") << QByteArray("\x01" "A\x01" "B\x04") << QStringLiteral("A\x01" "B");
    QTest::newRow("only controls") << QByteArray("\x01\x02 \x04") << QString();
    QTest::newRow("empty") << QByteArray() << QString();
}

void TestCodec::normalizeLine()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, normalized);
    QCOMPARE(NormalizeLine(raw), normalized);
}

// The 9600-baud lead character: ".1" is the positive acknowledge, " 1" loses its "1".
void TestCodec::hlxLeadRemoval_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("positive");
    QTest::newRow("dot one") << QByteArray("\x01.1\x04") << QStringLiteral("1") << true;
    QTest::newRow("space one") << QByteArray("\x01 1\x04") << QString() << false;
    QTest::newRow("dot zero") << QByteArray("\x01.0\x04") << QStringLiteral("0") << false;
    QTest::newRow("dot eleven") << QByteArray("\x01.11\x04") << QStringLiteral("11") << false;
}

void TestCodec::hlxLeadRemoval()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, line);
    QFETCH(bool, positive);
    const QString got = StripHlxLead(NormalizeLine(raw));
    QCOMPARE(got, line);
    QCOMPARE(IsHlxAckPositive(got), positive);
}

void TestCodec::fields_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("last");
    QTest::addColumn<QString>("field");
    // Line "512345X1": characters 2 to 6 are the serial digits of a search answer.
    QTest::newRow("inside") << 2 << 6 << QStringLiteral("12345");
    QTest::newRow("start below 1") << -3 << 2 << QStringLiteral("51");
    QTest::newRow("runs past end") << 7 << 12 << QStringLiteral("X1");
    QTest::newRow("beyond end") << 9 << 12 << QString();
    QTest::newRow("single") << 8 << 8 << QStringLiteral("1");
}

void TestCodec::fields()
{
    QFETCH(int, start);
    QFETCH(int, last);
    QFETCH(QString, field);
    QCOMPARE(FieldRange(QStringLiteral("512345X1"), start, last), field);
}

void TestCodec::hexToInt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("decimal");
    QTest::newRow("serial") << "1E240" << 123456 << "123456";
    QTest::newRow("lower case") << "1e240" << 123456 << "123456";
    QTest::newRow("empty slot") << "FFFFFF" << 16777215 << "16777215";
    QTest::newRow("top bit") << "FFFFFFFF" << -1 << "-1";
    QTest::newRow("leading zeros") << "000000000A" << 10 << "10";
    QTest::newRow("zero") << "0" << 0 << "0";
}

void TestCodec::hexToInt()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    QFETCH(QString, decimal);
    QCOMPARE(HexToInt(text), value);
    QCOMPARE(HexToDecimalText(text), decimal);
}

void TestCodec::hexToIntRejects_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("letter") << QStringLiteral("12G4");
    QTest::newRow("blank") << QStringLiteral("12 4");
    QTest::newRow("sign") << QStringLiteral("-1");
    QTest::newRow("nine digits") << QStringLiteral("123456789");
}

void TestCodec::hexToIntRejects()
{
    QFETCH(QString, text);
    QVERIFY_THROWS_EXCEPTION(ConversionError, HexToInt(text));
    QVERIFY_THROWS_EXCEPTION(ConversionError, HexToDecimalText(text));
}

void TestCodec::acknowledges()
{
    QVERIFY(IsMBusProgressMarker(QStringLiteral(".")));
    QVERIFY(!IsMBusProgressMarker(QStringLiteral("..")));
    QVERIFY(IsMBusAckPositive(QStringLiteral("-(")));
    QVERIFY(IsMBusAckPositive(QStringLiteral("ab(cd")));
    QVERIFY(!IsMBusAckPositive(QStringLiteral("-)")));
    QVERIFY(!IsHlxAckPositive(QStringLiteral("1 ")));
    QVERIFY(!IsHlxAckPositive(QString()));
}

void TestCodec::freeProtocolField_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("decoded");
    QTest::newRow("negative") << "FFFFFFFF" << QString();
    QTest::newRow("zero") << "00000000" << QString();
    QTest::newRow("16 bit") << "00001234" << "1234";
    QTest::newRow("32 bit") << "12345678" << "12345678";
    QTest::newRow("small 32 bit") << "00010000" << "00010000";
}

void TestCodec::freeProtocolField()
{
    QFETCH(QString, field);
    QFETCH(QString, decoded);
    const QString got = DecodeFreeProtocolField(field);
    QCOMPARE(got, decoded);
    QCOMPARE(got.isNull(), decoded.isNull());
}

void TestCodec::hexToBin_data()
{
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("bits");
    QTest::newRow("0F") << "0F" << "00001111";
    QTest::newRow("A") << "A" << "1010";
    QTest::newRow("lower") << "a5" << "10100101";
    QTest::newRow("empty") << "" << "";
}

void TestCodec::hexToBin()
{
    QFETCH(QString, hex);
    QFETCH(QString, bits);
    QCOMPARE(HexToBin(hex), bits);
    QVERIFY_THROWS_EXCEPTION(ConversionError, HexToBin(hex + QLatin1Char('x')));
}

void TestCodec::binToHex_data()
{
    QTest::addColumn<QString>("bits");
    QTest::addColumn<QString>("hex");
    QTest::addColumn<bool>("complains");
    QTest::newRow("101") << "101" << "5" << false;
    QTest::newRow("nine bits") << "100000001" << "101" << false;
    QTest::newRow("options byte") << "00100010" << "22" << false;
    QTest::newRow("mode byte") << "10011000" << "98" << false;
    QTest::newRow("empty") << "" << "" << false;
    QTest::newRow("not binary") << "12" << "" << true;
    QTest::newRow("blank inside") << "1 0" << "" << true;
}

void TestCodec::binToHex()
{
    QFETCH(QString, bits);
    QFETCH(QString, hex);
    QFETCH(bool, complains);
    ScriptedPrompter p;
    QCOMPARE(BinToHex(bits, &p), hex);
    QCOMPARE(p.wasAsked(QStringLiteral("This is not binary number!")), complains);
    if (complains) QCOMPARE(p.asked.first().type, DlgType::Error);
}

void TestCodec::lineBuffer_data()
{
    // Chunks as they arrive; what comes out: lines, or "dropped:N".
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QStringList>("items");
    const QByteArray full(kdr::LineBuffer::kCapacity - 1, 'A');
    QTest::newRow("two lines in one chunk") << QList<QByteArray>{"\x01 1\x04\x01 2\x04"} << QStringList{"\x01 1\x04", "\x01 2\x04"};
    QTest::newRow("a line over three chunks") << QList<QByteArray>{"\x01", " 5", "1E2401\x04"} << QStringList{"\x01 51E2401\x04"};
    QTest::newRow("no EOT yet") << QList<QByteArray>{"\x01 1"} << QStringList{};
    QTest::newRow("exactly the buffer") << QList<QByteArray>{full + "\x04"} << QStringList{QString::fromLatin1(full + "\x04")};
    QTest::newRow("one byte over, then a good line")
        << QList<QByteArray>{full + "A\x04\x01 1\x04"} << QStringList{"dropped:4097", "\x01 1\x04"};
    QTest::newRow("endless line over many chunks")
        << QList<QByteArray>{full, full, full + "\x04", "\x01 2\x04"} << QStringList{QStringLiteral("dropped:%1").arg(3 * full.size() + 1), "\x01 2\x04"};
}

void TestCodec::lineBuffer()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QStringList, items);
    kdr::LineBuffer buf;
    QStringList got;
    for (const QByteArray &c : chunks) {
        buf.append(c);
        while (auto it = buf.take()) got << (it->dropped ? QStringLiteral("dropped:%1").arg(it->dropped) : QString::fromLatin1(it->line));
    }
    QCOMPARE(got, items);
}

QTEST_GUILESS_MAIN(TestCodec)
#include "tst_codec.moc"
