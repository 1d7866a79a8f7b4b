// The bus engine against the in-process simulator: port list, interface scan, reader search,
// version and card count, and the acknowledge, retry, abort and time-out rules.
#include "BusRig.h"

#include "store/TableRoutines.h"

#include <QFile>
#include <QRegularExpression>

#include <functional>
#include <utility>

using namespace kdr;
using namespace kdrtest;

Q_DECLARE_METATYPE(kdr::sim::Model)

class TestEngine : public QObject {
    Q_OBJECT
private slots:
    void portList_data();
    void portList();
    void dropDownRefillsOnlyAnEmptyList();
    void scan_data();
    void scan();
    void scanPortNotAccessible();
    void startupScanSkipsOffline();
    void searchRefusals_data();
    void searchRefusals();
    void search9600();
    void searchNewReaderCancelled();
    void searchNewReaderFileExists();
    void searchRepeatedAnswers9600();
    void searchInitRefused();
    void searchMBusSerialZeroCancelsFilter_data();
    void searchMBusSerialZeroCancelsFilter();
    void goingOffline();
    void versionAndCount_data();
    void versionAndCount();
    void version0800GrowsTableOnce();
    void oldSoftwareAsksForCount_data();
    void oldSoftwareAsksForCount();
    void countZeroEndsRead();
    void versionUnknownAnswer_data();
    void versionUnknownAnswer();
    void pageSelectRetries();
    void abortStopsFollowUps();
    void hlxAckFlagRules();
    void mbusProgressMarkers_data();
    void mbusProgressMarkers();
    void writeRetriesThenReset();
    void writePartsThenReset();
    void requestTimeout();
    void noTimeoutAfterReset();
    void conversionErrorEndsLine();
    void calcCardLocation_data();
    void calcCardLocation();
    void newReaderFileNotCreated();
    void newReaderAnswersAgainDuringQuestion();
    void cardCountOutOfRange_data();
    void cardCountOutOfRange();
    void busPortClosedStopsOperation_data();
    void busPortClosedStopsOperation();
    void overlongLineIsLogged();
};

// ---- port list ----

void TestEngine::portList_data()
{
    QTest::addColumn<QStringList>("system");
    QTest::addColumn<QString>("extra");
    QTest::addColumn<QString>("lastPort");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QStringList>("logLines");
    QTest::newRow("ports, last one listed")
        << QStringList{"ttyS0", "ttyUSB0"} << "" << "ttyUSB0" << QStringList{"ttyS0", "ttyUSB0", "offline", "refresh"}
        << "ttyUSB0" << QStringList{"> Found ttyS0", "> Found ttyUSB0"};
    QTest::newRow("extra ports after system ports")
        << QStringList{"ttyS0"} << "/dev/pts/7; /tmp/kdr-sim ;" << "/tmp/kdr-sim"
        << QStringList{"ttyS0", "/dev/pts/7", "/tmp/kdr-sim", "offline", "refresh"} << "/tmp/kdr-sim"
        << QStringList{"> Found ttyS0", "> Found /dev/pts/7", "> Found /tmp/kdr-sim"};
    QTest::newRow("last port gone") << QStringList{"ttyS0"} << "" << "ttyUSB3" << QStringList{"ttyS0", "offline", "refresh"}
                                    << "offline" << QStringList{"> Found ttyS0"};
    QTest::newRow("no last port") << QStringList{"ttyS0"} << "" << "" << QStringList{"ttyS0", "offline", "refresh"}
                                  << "offline" << QStringList{"> Found ttyS0"};
    QTest::newRow("no port at all") << QStringList{} << "" << "ttyS0" << QStringList{"offline", "refresh"} << "offline"
                                    << QStringList{"> [ERROR] Ports do not exists: 0 found!"};
}

void TestEngine::portList()
{
    QFETCH(QStringList, system);
    QFETCH(QString, extra);
    QFETCH(QString, lastPort);
    QFETCH(QStringList, entries);
    QFETCH(QString, selected);
    QFETCH(QStringList, logLines);
    BusRig rig(sim::Model::KIM3110, system);
    rig.ws.settings.extraPorts = extra;
    rig.ws.settings.lastPort = lastPort;
    QSignalSpy listed(rig.engine.get(), &BusEngine::portListChanged);
    rig.engine->cbPortDropDown();
    QCOMPARE(rig.engine->portEntries(), entries);
    QCOMPARE(rig.engine->selectedPort(), selected);
    QCOMPARE(listed.count(), 1);
    QCOMPARE(listed.first().at(1).toString(), selected);
    QCOMPARE(rig.ws.log.lines(), logLines);
}

void TestEngine::dropDownRefillsOnlyAnEmptyList()
{
    QStringList system;
    BusRig rig(sim::Model::KIM3110, {});
    rig.engine->setPortLister([&system] { return system; });
    rig.engine->cbPortDropDown();
    QCOMPARE(rig.engine->portEntries(), (QStringList{"offline", "refresh"}));
    system = {"ttyS0"};
    rig.engine->cbPortDropDown(); // two entries: filled again
    QCOMPARE(rig.engine->portEntries(), (QStringList{"ttyS0", "offline", "refresh"}));
    system = {"ttyS0", "ttyS1"};
    rig.engine->cbPortDropDown(); // three entries: left alone
    QCOMPARE(rig.engine->portEntries(), (QStringList{"ttyS0", "offline", "refresh"}));
    rig.engine->cbPortSelect("refresh"); // only "refresh" fills it again
    QCOMPARE(rig.engine->portEntries(), (QStringList{"ttyS0", "ttyS1", "offline", "refresh"}));
    QCOMPARE(rig.engine->selectedPort(), QStringLiteral("ttyS0")); // aLastPort of the rig
}

// ---- interface scan ----

void TestEngine::scan_data()
{
    QTest::addColumn<sim::Model>("model");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QList<QByteArray>>("telegrams"); // bytes as they reached the interface
    QTest::addColumn<QStringList>("lines");
    const QList<QByteArray> only9600{Codec::ScanTelegram};
    const QList<QByteArray> both{Codec::ScanTelegram, Codec::MBusScanTelegram};
    QTest::newRow("KIM3100") << sim::Model::KIM3100 << "" << true << only9600
                             << QStringList{"Port ttyS0 is opened", "> Searching Interface on ttyS0...",
                                            "> Response to SearchInterface .3F", "> Received data: .01234",
                                            "> Interface found on ttyS0", "> Interface type: KIM3100",
                                            "> Interface serial number: 4660", "> Port ttyS0 is closed."};
    QTest::newRow("KIM3110") << sim::Model::KIM3110 << "" << true << only9600
                             << QStringList{"> Received data: .12345", "> Interface found on ttyS0",
                                            "> Interface type: KIM3110", "> Interface serial number: 74565",
                                            "> Port ttyS0 is closed."};
    QTest::newRow("KIM3121 after the 9600 attempt")
        << sim::Model::KIM3121 << "" << true << both
        << QStringList{"> Searching Interface on ttyS0...", ">> Interface not found on ttyS0", "Port ttyS0 is opened",
                       "> Searching Interface(M) on ttyS0...", "> Interface found on ttyS0",
                       "> Interface type: KIM3121", "> Interface serial number: 0 (not used)", "> Port ttyS0 is closed."};
    QTest::newRow("no interface") << sim::Model::KIM3110 << "nointerface=1" << false << both
                                  << QStringList{">> Interface not found on ttyS0", "> Searching Interface(M) on ttyS0...",
                                                 ">> Interface(M) not found on ttyS0", "> Port ttyS0 is closed."};
    QTest::newRow("no video signal") << sim::Model::KIM3110 << "novideo=1" << false << both
                                     << QStringList{"> Received data: 0800", "> No video signal and/or M-wire missing: 0800",
                                                    "> Port ttyS0 is closed.", ">> Interface not found on ttyS0",
                                                    ">> Interface(M) not found on ttyS0"};
}

void TestEngine::scan()
{
    QFETCH(sim::Model, model);
    QFETCH(QString, fault);
    QFETCH(bool, found);
    QFETCH(QList<QByteArray>, telegrams);
    QFETCH(QStringList, lines);
    BusRig rig(model);
    QString err;
    if (!fault.isEmpty()) QVERIFY2(rig.bus.setFault(fault, &err), qPrintable(err));
    QSignalSpy findEnabled(rig.engine.get(), &BusEngine::findKdrEnabledChanged);
    QVERIFY(rig.scan());
    QCOMPARE(rig.engine->interfaceFound(), found);
    QCOMPARE(rig.engine->findKdrEnabled(), found);
    QCOMPARE(findEnabled.last().at(0).toBool(), found);
    QVERIFY(!rig.engine->scanPort()->isOpen());
    QCOMPARE(rig.rawTelegrams(), telegrams);
    QVERIFY2(rig.logHasInOrder(lines), qPrintable(rig.ws.log.lines().join('\n')));
    // The last used port is stored only for a scan that found the interface.
    Settings stored;
    stored.load(rig.ws.settingsPath());
    QCOMPARE(stored.lastPort, found ? QStringLiteral("ttyS0") : QString());
}

void TestEngine::scanPortNotAccessible()
{
    BusRig rig(sim::Model::KIM3110);
    rig.openablePorts = {"ttyS9"};
    BusRig *r = &rig;
    r->engine = std::make_unique<BusEngine>(rig.ws, [r](QObject *parent) {
        auto *l = new sim::SimSerialLink(&r->bus, parent);
        l->setPortNames(r->openablePorts);
        return l;
    });
    r->engine->setPortLister([] { return QStringList{"ttyS0"}; });
    QVERIFY(rig.scan());
    QVERIFY(rig.ws.log.contains("[ERROR] Port ttyS0 is not accessible!"));
    QVERIFY(rig.ws.log.contains("> Port ttyS0 does not exist.")); // the link's reason, in plain words
    QVERIFY(rig.engine->scanPortEnabled());
    QVERIFY(!rig.engine->findKdrEnabled());
    QVERIFY(rig.telegrams().isEmpty());
}

void TestEngine::startupScanSkipsOffline()
{
    BusRig rig(sim::Model::KIM3110);
    rig.ws.settings.lastPort.clear();
    rig.engine->cbPortDropDown();
    QCOMPARE(rig.engine->selectedPort(), QStringLiteral("offline"));
    QSignalSpy scanEnabled(rig.engine.get(), &BusEngine::scanPortEnabledChanged);
    rig.engine->startupScan();
    QCOMPARE(scanEnabled.count(), 1);
    QVERIFY(rig.engine->scanPortEnabled());
    QTest::qWait(50);
    QVERIFY(rig.telegrams().isEmpty());
    QVERIFY(!rig.ws.log.contains("ERROR: You are in offline mode!"));

    rig.engine->cbPortSelect("ttyS0");
    rig.engine->startupScan();
    QVERIFY(QTest::qWaitFor([&] { return rig.engine->findKdrEnabled(); }, 3000));
}

// ---- reader search ----

void TestEngine::searchRefusals_data()
{
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<QString>("line");
    QTest::newRow("offline") << "offline" << "ERROR: You are in offline mode!";
    QTest::newRow("loading") << "loading" << "ERROR: Loading files is still in progress!";
    QTest::newRow("downloading") << "downloading" << "ERROR: Downloading files is still in progress!";
}

void TestEngine::searchRefusals()
{
    QFETCH(QString, refusal);
    QFETCH(QString, line);
    BusRig rig(sim::Model::KIM3110);
    rig.bus.addReader(123456);
    const int row = rig.addReaderFile(123456);
    rig.ws.readers.setValue(row, ReaderField::Status, kStatusOnline);
    QVERIFY(rig.scan());
    rig.bus.clearTrace();
    const int before = int(rig.ws.log.lines().size());
    if (refusal == "offline") rig.engine->cbPortSelect("offline");
    if (refusal == "loading") rig.ws.loadingFiles = true;
    if (refusal == "downloading") rig.ws.downloadingFiles = true;
    rig.engine->btnFindKDRClick();
    QTest::qWait(60);
    QCOMPARE(rig.ws.log.lines().mid(before), QStringList{line});
    QVERIFY(rig.telegrams().isEmpty());
    QCOMPARE(rig.status(row), kStatusOnline); // nothing was reset
}

void TestEngine::search9600()
{
    BusRig rig(sim::Model::KIM3110);
    rig.bus.addReader(123456);
    rig.bus.addReader(654321);
    const int known = rig.addReaderFile(123456);
    const int absent = rig.addReaderFile(777);
    rig.ws.readers.setValue(absent, ReaderField::Status, kStatusOnline); // left over from an earlier search
    rig.ws.readers.setCurrent(known);
    rig.prompter.queueButton(Btn::Ok);
    QVERIFY(rig.scanAndSearch());
    QVERIFY(QTest::qWaitFor([&] { return rig.ws.readers.recordCount() == 3; }, 2000));
    QCOMPARE(rig.telegrams(), (QStringList{"580B", "5200"}));
    QVERIFY2(rig.logHasInOrder({"Port ttyS0 is opened", "> Initializing HLX:BUS...", "> Response to InitHLXBUS OK!",
                                "> Searching KDR on HLX:BUS...", "> Response to SearchDevice OK!",
                                "> KDR-01, serial number: 123456;", "> KDR-01, serial number: 654321;"}),
             qPrintable(rig.ws.log.lines().join('\n')));
    QRegularExpression sendLine("^> .+ Sending: 5200$");
    QCOMPARE(rig.ws.log.lines().filter(sendLine).size(), 1);
    QCOMPARE(rig.status(known), kStatusOnline);
    QCOMPARE(rig.status(absent), kStatusOffline);
    // The new reader: question, row, data file with its serial and default parameters.
    QCOMPARE(rig.prompter.asked.size(), 1);
    QCOMPARE(rig.prompter.asked.first().text, QStringLiteral("New reader found. Do you want to add it in KDR data table?"));
    QCOMPARE(rig.prompter.asked.first().type, DlgType::Information);
    const int added = rig.ws.readers.findFile("654321.vtd");
    QVERIFY(added >= 0);
    QCOMPARE(rig.status(added), kStatusOnline);
    QCOMPARE(rig.ws.readers.storedValue(added, ReaderField::RelayT).toInt(), 6);
    CardTable onDisk;
    QFile f(rig.ws.activeFolderPath() + "654321.vtd");
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(readVtd(f.readAll(), onDisk).ok);
    QCOMPARE(onDisk.recordCount(), kSlots2000);
    QCOMPARE(onDisk.storedValue(0, CardField::KDRSerial).toInt(), 654321);
    QCOMPARE(onDisk.storedValue(0, CardField::RelayT).toInt(), 6);
    // The list is filtered to the online readers 600 ms after the last answer.
    QVERIFY(!rig.ws.readers.isFiltered());
    QVERIFY(QTest::qWaitFor([&] { return rig.ws.readers.isFiltered(); }, 2000));
    QCOMPARE(rig.ws.readers.visibleRecords().size(), 2);
}

void TestEngine::searchNewReaderCancelled()
{
    BusRig rig(sim::Model::KIM3110);
    rig.bus.addReader(654321);
    rig.prompter.queueButton(Btn::Cancel);
    QVERIFY(rig.scanAndSearch()); // empty reader list: nothing to mark offline
    QVERIFY(QTest::qWaitFor([&] { return rig.ws.log.contains("> KDR-01, serial number: 654321;"); }, 2000));
    QTest::qWait(700);
    QCOMPARE(rig.prompter.asked.size(), 1);
    QCOMPARE(rig.ws.readers.recordCount(), 0);
    QVERIFY(!QFile::exists(rig.ws.activeFolderPath() + "654321.vtd"));
    QVERIFY(!rig.ws.readers.isFiltered()); // nobody online: no filter
}

// A data file of that name exists (its record says another serial): it is never overwritten.
void TestEngine::searchNewReaderFileExists()
{
    BusRig rig(sim::Model::KIM3110);
    rig.bus.addReader(654321);
    rig.addReaderFile(111);
    QVERIFY(QFile::copy(rig.ws.activeFolderPath() + "111.vtd", rig.ws.activeFolderPath() + "654321.vtd"));
    const QByteArray before = [&] {
        QFile f(rig.ws.activeFolderPath() + "654321.vtd");
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    rig.prompter.queueButton(Btn::Ok);
    QVERIFY(rig.scanAndSearch());
    QVERIFY(QTest::qWaitFor([&] { return rig.prompter.asked.size() == 2; }, 2000));
    QCOMPARE(rig.prompter.asked.at(1).type, DlgType::Error);
    QCOMPARE(rig.ws.readers.recordCount(), 1);
    QFile f(rig.ws.activeFolderPath() + "654321.vtd");
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), before);
}

void TestEngine::searchRepeatedAnswers9600()
{
    BusRig rig(sim::Model::KIM3110);
    rig.bus.addReader(123456);
    const int a = rig.addReaderFile(123456);
    const int b = rig.addReaderFile(0x54321);
    QVERIFY(rig.scanAndSearch());
    QVERIFY(QTest::qWaitFor([&] { return rig.status(a) == kStatusOnline; }, 2000));
    QSignalSpy statusChanges(&rig.ws.readers, &Table::recordChanged);
    // The same answer again: dropped. "1" alone: dropped silently. Others are logged.
    rig.engine->PortDataAvailable(hlxLine("51E2401"));
    QCOMPARE(rig.logCount("> KDR-01, serial number: 123456;"), 1);
    QCOMPARE(statusChanges.count(), 0);
    const int lines = int(rig.ws.log.lines().size());
    rig.engine->PortDataAvailable(hlxLine("1"));
    QCOMPARE(int(rig.ws.log.lines().size()), lines);
    rig.engine->PortDataAvailable(hlxLine("51E2400")); // seventh character not "1"
    QCOMPARE(rig.ws.log.lines().last(), QStringLiteral("> 51E2400"));
    // Another reader, then the first again: both accepted.
    rig.engine->PortDataAvailable(hlxLine("5543211"));
    QCOMPARE(rig.status(b), kStatusOnline);
    rig.engine->PortDataAvailable(hlxLine("51E2401"));
    QCOMPARE(rig.logCount("> KDR-01, serial number: 123456;"), 2);
    QCOMPARE(rig.logCount("> KDR-01, serial number: 344865;"), 1);
    QVERIFY(rig.prompter.asked.isEmpty());
}

void TestEngine::searchInitRefused()
{
    BusRig rig(sim::Model::KIM3110);
    rig.bus.addReader(123456);
    const int row = rig.addReaderFile(123456);
    QString err;
    QVERIFY(rig.bus.setFault("nak.init=1", &err));
    QVERIFY(rig.scan());
    rig.bus.clearTrace();
    rig.engine->btnFindKDRClick();
    QVERIFY(QTest::qWaitFor([&] { return rig.ws.log.contains("> Response to InitHLXBUS Failed!"); }, 2000));
    QTest::qWait(100);
    QCOMPARE(rig.telegrams(), QStringList{"580B"});
    QCOMPARE(rig.status(row), kStatusOffline);
    // Refused right after a search that found the reader: that search's pending filter must not
    // come on and hide the reader, now OFFLINE.
    rig.bus.clearFaults();
    rig.engine->btnFindKDRClick();
    QVERIFY(QTest::qWaitFor([&] { return rig.status(row) == kStatusOnline; }, 2000));
    QVERIFY(rig.bus.setFault("nak.init=1", &err));
    rig.engine->btnFindKDRClick();
    QVERIFY(QTest::qWaitFor([&] { return rig.logCount("> Response to InitHLXBUS Failed!") == 2; }, 2000));
    QTest::qWait(800);
    QCOMPARE(rig.status(row), kStatusOffline);
    QVERIFY(!rig.ws.readers.isFiltered());
}

void TestEngine::searchMBusSerialZeroCancelsFilter_data()
{
    QTest::addColumn<bool>("zeroAnswer");
    QTest::newRow("reader answer last") << false;
    QTest::newRow("serial 0 answer last") << true;
}

void TestEngine::searchMBusSerialZeroCancelsFilter()
{
    QFETCH(bool, zeroAnswer);
    BusRig rig(sim::Model::KIM3121);
    rig.bus.addReader(123456);
    const int row = rig.addReaderFile(123456);
    QVERIFY(rig.scanAndSearch());
    QVERIFY(QTest::qWaitFor([&] { return rig.status(row) == kStatusOnline; }, 2000));
    QCOMPARE(rig.telegrams(), QStringList{"FFFFFF0000000400000B020103080000FE0000000000"});
    QVERIFY(rig.logHasInOrder({"Port ttyS0 is opened", "> Initializing M:BUS...", "> Searching KDR on M:BUS...",
                               "> Response to SearchDevice OK!", "> KDR-M, serial number: 123456;"}));
    QVERIFY(!rig.ws.log.contains("> Initializing HLX:BUS..."));
    if (zeroAnswer) rig.engine->PortDataAvailable(mbusRaw(":000000FFFFFF8B000005000000000201030800AA"));
    QTest::qWait(800);
    QCOMPARE(rig.ws.readers.isFiltered(), !zeroAnswer);
    QCOMPARE(rig.logCount("> KDR-M, serial number: 0;"), 0);
    QCOMPARE(rig.engine->op.LastFoundSerial, zeroAnswer ? QStringLiteral("0") : QStringLiteral("123456"));
}

void TestEngine::goingOffline()
{
    BusRig rig(sim::Model::KIM3110);
    rig.bus.addReader(123456);
    const int row = rig.addReaderFile(123456);
    QVERIFY(rig.scanAndSearch());
    QVERIFY(QTest::qWaitFor([&] { return rig.ws.readers.isFiltered(); }, 2000));
    QVERIFY(rig.engine->busAt9600());
    rig.engine->cbPortSelect("offline");
    QVERIFY(!rig.engine->busOpen());
    QVERIFY(!rig.engine->busAt9600());
    QCOMPARE(rig.ws.log.lines().last(), QStringLiteral("Port: ttyS0 is closed."));
    QVERIFY(!rig.ws.readers.isFiltered());
    QCOMPARE(rig.status(row), kStatusOffline);
    // Offline within the filter delay of the last answer: the list is not filtered afterwards,
    // which would hide every reader (all are OFFLINE now).
    rig.engine->cbPortSelect("ttyS0");
    QVERIFY(rig.scanAndSearch());
    QVERIFY(QTest::qWaitFor([&] { return rig.status(row) == kStatusOnline; }, 2000));
    QVERIFY(!rig.ws.readers.isFiltered());
    rig.engine->cbPortSelect("offline");
    QTest::qWait(800);
    QVERIFY(!rig.ws.readers.isFiltered());
    QCOMPARE(rig.status(row), kStatusOffline);
    // Offline again with the port closed: the reader list is left as it is.
    rig.ws.readers.setValue(row, ReaderField::Status, kStatusOnline);
    rig.engine->cbPortSelect("offline");
    QCOMPARE(rig.status(row), kStatusOnline);
}

// ---- version and written-card count ----

namespace {
// Starts the version/count chain the way "Read All Cards" does.
void startCardRead(BusRig &rig)
{
    OperationVars &op = rig.engine->op;
    op.ActiveCommand = BusCommand::ReadKDR;
    op.AbortRequested = false;
    op.CurPage = 0x0811;
    op.CurSubPage = 0x8110;
    op.SubPageSelect = false;
    op.CurLocation = Codec::FirstLocation;
    rig.bus.clearTrace();
    if (rig.engine->isMBus()) {
        op.CurLocation = Codec::MBusFirstCardLocation;
        op.OperationState = MBusState::GetVersion;
        rig.engine->startStep(Step::GetVersion);
    } else {
        op.OperationState = HlxState::GetVersion;
        rig.engine->InitHLXBUS();
    }
}
} // namespace

void TestEngine::versionAndCount_data()
{
    QTest::addColumn<sim::Model>("model");
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("cards");
    QTest::addColumn<QStringList>("telegrams");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("9600") << sim::Model::KIM3110 << 0x20C << 40
                          << QStringList{"580B", "51E240C0", "61E240C8", "8111E240", "8402"}
                          << QStringList{"> Initializing HLX:BUS...", "> Response to InitHLXBUS OK!",
                                         "> Requesting software version", "> KDR-01, software version: V.2.0.12;",
                                         "> Requesting total card number writed", "> KDR-01, last card ID: 40;",
                                         "===========================", "Calculating locations:", "Page: 812",
                                         "SubPage FFFFFFFF", "CardLoc: 843A", "===========================",
                                         "> Selecting KDR for mem access, Page 1...", "> Response to SelMemAccess OK!",
                                         "> Preparing to read KDR cards...", "> EEPROM Location: 8402"};
    QTest::newRow("M:BUS") << sim::Model::KIM3121 << 0x206 << 40
                           << QStringList{"FFFFFF01E240040000010D00", "FFFFFF01E2400C000001C800",
                                          "FFFFFF01E2400600000600000001008000"}
                           << QStringList{"> Requesting software version", "> Response to GetVersion OK!",
                                          "> KDR-M, software version: V.2.0.6;", "> Applied 4000 possible cards.",
                                          "> Requesting total card number writed", "> Response to GetTotalCardNo OK!",
                                          "> KDR-M, last card ID: 40;", "===========================",
                                          "Calculating locations:", "CardLoc: 238", "===========================",
                                          "> EEPROM Location: 0100", "> Response to GetCardID OK!"};
}

void TestEngine::versionAndCount()
{
    QFETCH(sim::Model, model);
    QFETCH(int, version);
    QFETCH(int, cards);
    QFETCH(QStringList, telegrams);
    QFETCH(QStringList, lines);
    BusRig rig(model);
    sim::Reader &r = rig.bus.addReader(123456, 2000, version);
    for (int s = 1; s <= cards; ++s) r.setCard(s, 1000 + s);
    rig.addReaderFile(123456);
    QVERIFY(rig.scanAndSearch());
    QSignalSpy pbMax(rig.engine.get(), &BusEngine::progressMaximumChanged);
    startCardRead(rig);
    QVERIFY(QTest::qWaitFor([&] { return rig.telegrams().size() == telegrams.size(); }, 3000));
    QTest::qWait(100);
    QCOMPARE(rig.telegrams(), telegrams);
    QVERIFY2(rig.logHasInOrder(lines), qPrintable(rig.ws.log.lines().join('\n')));
    QCOMPARE(rig.engine->op.ReaderVersion, version);
    QCOMPARE(rig.engine->op.LastCardId, cards);
    QCOMPARE(pbMax.last().at(0).toInt(), cards);
    QVERIFY(!rig.engine->stepActive(Step::ReadCards)); // no memory handlers: one request, then stop
    // Over M:BUS every reader gets 4000 slots; at 9600 a "0180" reader keeps 2000.
    QCOMPARE(rig.ws.cards.recordCount(), model == sim::Model::KIM3121 ? kSlots4000 : kSlots2000);
}

void TestEngine::version0800GrowsTableOnce()
{
    BusRig rig(sim::Model::KIM3110);
    sim::Reader &r = rig.bus.addReader(123456, 4000, 0x20C);
    r.setCard(1, 42);
    rig.addReaderFile(123456);
    QVERIFY(rig.scanAndSearch());
    for (int round = 0; round < 2; ++round) {
        startCardRead(rig);
        QVERIFY(QTest::qWaitFor([&] { return rig.telegrams().contains("61E240C8"); }, 3000));
        QTest::qWait(100);
        QCOMPARE(rig.ws.cards.recordCount(), kSlots4000);
    }
    QCOMPARE(rig.logCount("> KDR-01, software version: V.2.0.12;"), 2);
    QCOMPARE(rig.logCount("> Applied 4000 possible cards."), 1);
    CardTable onDisk;
    QFile f(rig.ws.readerFilePath());
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(readVtd(f.readAll(), onDisk).ok);
    QCOMPARE(onDisk.recordCount(), kSlots4000);
    QCOMPARE(onDisk.storedValue(3999, CardField::ID).toInt(), 4000);
}

void TestEngine::oldSoftwareAsksForCount_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<QList<std::optional<QString>>>("answers");
    QTest::addColumn<int>("asked");
    QTest::addColumn<QStringList>("telegrams");
    QTest::addColumn<int>("lastCardId");
    QTest::newRow("0.0.11, OK 150") << 0x00B << QList<std::optional<QString>>{QStringLiteral("150")} << 1
                                    << QStringList{"580B", "51E240C0", "8111E240", "8402"} << 150;
    QTest::newRow("0.0.11, bad input then 2000")
        << 0x00B << QList<std::optional<QString>>{QStringLiteral("2001"), QStringLiteral("x"), QStringLiteral("2000")} << 3
        << QStringList{"580B", "51E240C0", "8111E240", "8402"} << 2000;
    QTest::newRow("0.0.11, cancel") << 0x00B << QList<std::optional<QString>>{std::nullopt} << 1
                                    << QStringList{"580B", "51E240C0"} << 0;
    QTest::newRow("0.0.12 asks the reader") << 0x00C << QList<std::optional<QString>>{} << 0
                                            << QStringList{"580B", "51E240C0", "61E240C8", "8111E240", "8402"} << 3;
}

void TestEngine::oldSoftwareAsksForCount()
{
    QFETCH(int, version);
    QFETCH(QList<std::optional<QString>>, answers);
    QFETCH(int, asked);
    QFETCH(QStringList, telegrams);
    QFETCH(int, lastCardId);
    BusRig rig(sim::Model::KIM3110);
    sim::Reader &r = rig.bus.addReader(123456, 2000, version);
    for (int s = 1; s <= 3; ++s) r.setCard(s, 500 + s);
    rig.addReaderFile(123456);
    QVERIFY(rig.scanAndSearch());
    for (const auto &a : answers) rig.prompter.queueInput(a);
    startCardRead(rig);
    QVERIFY(QTest::qWaitFor([&] { return rig.telegrams().size() >= telegrams.size(); }, 3000));
    QTest::qWait(150);
    QCOMPARE(rig.telegrams(), telegrams);
    QCOMPARE(rig.prompter.inputPrompts.size(), asked);
    if (asked) QCOMPARE(rig.prompter.inputPrompts.first(), QStringLiteral("Please, input last card number (Values 1-2000)"));
    QCOMPARE(rig.prompter.asked.size(), qMax(0, asked - 1)); // an error message for each bad input
    QCOMPARE(rig.engine->op.LastCardId, lastCardId);
    if (lastCardId == 0) QCOMPARE(rig.engine->op.OperationState, int(HlxState::GetVersion));
}

void TestEngine::countZeroEndsRead()
{
    BusRig rig(sim::Model::KIM3110);
    rig.bus.addReader(123456); // no cards written
    rig.addReaderFile(123456);
    QVERIFY(rig.scanAndSearch());
    QSignalSpy captions(rig.engine.get(), &BusEngine::commandCaptionChanged);
    QSignalSpy saveMenu(rig.engine.get(), &BusEngine::saveReadCardsEnabledChanged);
    startCardRead(rig);
    QVERIFY(QTest::qWaitFor([&] { return rig.ws.log.contains("> Card reading finished!"); }, 3000));
    QTest::qWait(100);
    QCOMPARE(rig.telegrams(), (QStringList{"580B", "51E240C0", "61E240C8"}));
    QCOMPARE(rig.ws.log.lines().last(), QStringLiteral("> Card reading finished!"));
    QCOMPARE(rig.engine->op.OperationState, kIdle);
    QCOMPARE(saveMenu.count(), 1);
    QCOMPARE(captions.count(), 2);
    QCOMPARE(captions.at(0).at(1).toString(), QStringLiteral("Read All Cards"));
    QCOMPARE(captions.at(1).at(1).toString(), QStringLiteral("Read All functions"));
}

void TestEngine::versionUnknownAnswer_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("line");
    QTest::newRow("acknowledge only") << QByteArray("1") << "> KDR-01, unable to get software version;";
    QTest::newRow("other") << QByteArray("0999020C") << "> 0999020C";
}

void TestEngine::versionUnknownAnswer()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, line);
    BusRig rig(sim::Model::KIM3110);
    rig.addReaderFile(123456);
    QVERIFY(rig.scanAndSearch());
    rig.engine->op.OperationState = HlxState::GetVersion;
    rig.engine->op.AwaitAck = false;
    rig.engine->op.ActiveCommand = BusCommand::ReadKDR;
    rig.engine->PortDataAvailable(hlxLine(answer));
    QCOMPARE(rig.ws.log.lines().last(), line);
    QTest::qWait(60);
    QVERIFY(!rig.engine->stepActive(Step::GetCardNo));
    QVERIFY(!rig.engine->stepActive(Step::SelMemReadDevice));
}

// ---- acknowledge, retry, abort and time-out rules ----

// Four refused page selects: the page select goes out four times in all, then nothing more.
void TestEngine::pageSelectRetries()
{
    BusRig rig(sim::Model::KIM3110);
    rig.bus.addReader(123456).setCard(1, 77);
    rig.addReaderFile(123456);
    QVERIFY(rig.scanAndSearch());
    QString err;
    QVERIFY(rig.bus.setFault("nak.page=4", &err));
    startCardRead(rig);
    QVERIFY(QTest::qWaitFor([&] { return rig.logCount("> Response to SelMemAccess Failed!") == 4; }, 3000));
    QTest::qWait(150);
    QCOMPARE(rig.telegrams(), (QStringList{"580B", "51E240C0", "61E240C8", "8111E240", "8111E240", "8111E240", "8111E240"}));
    QCOMPARE(rig.ws.log.lines().last(), QStringLiteral("> Response to SelMemAccess Failed!"));
    QCOMPARE(rig.engine->op.RetryCount, 3);
}

void TestEngine::abortStopsFollowUps()
{
    BusRig rig(sim::Model::KIM3110);
    rig.addReaderFile(123456);
    QVERIFY(rig.scanAndSearch());
    OperationVars &op = rig.engine->op;
    struct Case {
        int state;
        QByteArray line;
        bool subPage;
    };
    for (const Case &c : {Case{3, "1", false}, Case{3, "1", true}, Case{3, "0", false}, Case{4, "1", false}, Case{4, "0", false}}) {
        op.OperationState = c.state;
        op.AwaitAck = true;
        op.SubPageSelect = c.subPage;
        op.AbortRequested = true;
        op.RetryCount = 0;
        rig.engine->PortDataAvailable(hlxLine(c.line));
        for (Step s : {Step::SelMemReadDevice, Step::SelSubMemReadDevice, Step::ReadCards})
            QVERIFY2(!rig.engine->stepActive(s), qPrintable(QString("state %1 line %2").arg(c.state).arg(QString(c.line))));
        QVERIFY(!op.AwaitAck);
    }
    // The same lines without the abort start the follow-ups.
    op.AbortRequested = false;
    op.OperationState = 3;
    op.AwaitAck = true;
    op.SubPageSelect = true;
    rig.engine->PortDataAvailable(hlxLine("1"));
    QVERIFY(rig.engine->stepActive(Step::SelSubMemReadDevice));
    rig.engine->stopStep(Step::SelSubMemReadDevice);
    // A running stream stops on its next firing once the abort is set.
    op.AbortRequested = false;
    rig.bus.clearTrace();
    rig.engine->startStep(Step::ReadCards);
    op.AbortRequested = true;
    QTest::qWait(80);
    QVERIFY(!rig.engine->stepActive(Step::ReadCards));
    QVERIFY(rig.telegrams().isEmpty());
}

void TestEngine::hlxAckFlagRules()
{
    BusRig rig(sim::Model::KIM3110);
    rig.addReaderFile(123456);
    QVERIFY(rig.scanAndSearch());
    OperationVars &op = rig.engine->op;
    const int n = int(rig.ws.log.lines().size());
    rig.engine->PortDataAvailable(hlxLine("1")); // state 1, no acknowledge awaited: ignored
    QCOMPARE(int(rig.ws.log.lines().size()), n);
    op.AwaitAck = true;
    rig.engine->PortDataAvailable(hlxLine("1"));
    QCOMPARE(rig.ws.log.lines().last(), QStringLiteral("> Response to SearchDevice OK!"));
    QVERIFY(!op.AwaitAck);
    op.AwaitAck = true;
    rig.engine->PortDataAvailable(QByteArray("\x01 1\x04")); // the "1" is the removed lead: negative
    QCOMPARE(rig.ws.log.lines().last(), QStringLiteral("> Response to SearchDevice Failed!"));
    // Idle: dropped, the acknowledge flag cleared all the same.
    op.OperationState = kIdle;
    op.AwaitAck = true;
    const int m = int(rig.ws.log.lines().size());
    rig.engine->PortDataAvailable(hlxLine("1"));
    rig.engine->PortDataAvailable(hlxLine("51E2401"));
    QCOMPARE(int(rig.ws.log.lines().size()), m);
    QVERIFY(!op.AwaitAck);
    // The reset state has no entry in either table.
    op.OperationState = HlxState::ResetDevice;
    op.AwaitAck = true;
    rig.engine->PortDataAvailable(hlxLine("0"));
    rig.engine->PortDataAvailable(hlxLine("1"));
    QCOMPARE(int(rig.ws.log.lines().size()), m);
}

void TestEngine::mbusProgressMarkers_data()
{
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<QString>("logged");
    QTest::newRow("two dots, then (") << QList<QByteArray>{".", ".", "(ACK)"} << "> Response to GetVersion OK!";
    QTest::newRow("dot, then no (") << QList<QByteArray>{".", "NAK"} << "> Response to GetVersion Failed!";
    QTest::newRow("( anywhere") << QList<QByteArray>{"x(y"} << "> Response to GetVersion OK!";
}

void TestEngine::mbusProgressMarkers()
{
    QFETCH(QList<QByteArray>, lines);
    QFETCH(QString, logged);
    BusRig rig(sim::Model::KIM3121);
    rig.addReaderFile(123456);
    QVERIFY(rig.scanAndSearch());
    OperationVars &op = rig.engine->op;
    op.OperationState = MBusState::GetVersion;
    op.AwaitAck = true;
    const int n = int(rig.ws.log.lines().size());
    for (const QByteArray &l : lines) rig.engine->PortDataAvailable(mbusRaw(l));
    QCOMPARE(rig.ws.log.lines().mid(n), QStringList{logged});
    QVERIFY(!op.AwaitAck);
    QCOMPARE(op.OperationState, int(MBusState::GetVersion));
}

// A refused write part is repeated while RetryCount is below 3; then the reset step follows.
void TestEngine::writeRetriesThenReset()
{
    BusRig rig(sim::Model::KIM3110);
    rig.addReaderFile(123456);
    QVERIFY(rig.scanAndSearch());
    OperationVars &op = rig.engine->op;
    op.ActiveCommand = BusCommand::ChangeCard;
    op.CurLocation = 0x8200;
    op.WriteData1 = "40FF";
    op.WritePart = 0;
    op.RetryCount = 2;
    op.OperationState = HlxState::WriteData;
    op.AwaitAck = true;
    rig.bus.clearTrace();
    rig.engine->PortDataAvailable(hlxLine("0"));
    QCOMPARE(op.RetryCount, 3);
    QVERIFY(!op.WriteOk);
    QVERIFY(rig.engine->stepActive(Step::WriteCard));
    QVERIFY(QTest::qWaitFor([&] { return rig.telegrams().size() == 1; }, 1000));
    QCOMPARE(rig.telegrams(), QStringList{"820040FF"});
    QVERIFY(rig.ws.log.contains("> Location to write card ID: 8200"));
    // The simulator refuses a write without a page select; RetryCount is 3: reset, no fifth write.
    QVERIFY(QTest::qWaitFor([&] { return rig.telegrams().size() == 2; }, 1000));
    QCOMPARE(rig.telegrams().last(), QStringLiteral("5100"));
    QVERIFY(rig.ws.log.contains("> Reset device"));
    QCOMPARE(op.OperationState, int(HlxState::ResetDevice));
    QCOMPARE(rig.logCount("> Response to WriteData Failed!"), 2);
}

// Three accepted parts of a card: locations advance by 2, then the reset request.
void TestEngine::writePartsThenReset()
{
    BusRig rig(sim::Model::KIM3110);
    rig.bus.addReader(123456);
    rig.addReaderFile(123456);
    QVERIFY(rig.scanAndSearch());
    OperationVars &op = rig.engine->op;
    op.ActiveCommand = BusCommand::ChangeCard;
    op.CurPage = 0x0811;
    op.CurSubPage = -1;
    op.CurLocation = 0x8200;
    op.WriteData1 = "40FF";
    op.WriteData2 = "FF00";
    op.WriteData3 = "0101";
    op.RetryCount = 0;
    op.OperationState = HlxState::InitBusForWrite;
    rig.bus.clearTrace();
    rig.engine->InitHLXBUS();
    QVERIFY(QTest::qWaitFor([&] { return rig.telegrams().contains("5100"); }, 3000));
    QCOMPARE(rig.telegrams(), (QStringList{"580B", "8111E240", "820040FF", "8202FF00", "82040101", "5100"}));
    QVERIFY(rig.logHasInOrder({"> Response to InitHLXBUS OK!", "> Response to SelMemAccess OK!", "> Preparing to write KDR card...",
                               "> Data to write(params): 40FF|FF00|0101", "> Response to WriteData OK!, Part: 0",
                               "> Response to WriteData OK!, Part: 1", "> Response to WriteData OK!, Part: 2", "> Reset device"}));
    QVERIFY(op.WriteOk);
    QCOMPARE(rig.engine->progressValue(), 0);
    QCOMPARE(rig.bus.reader(123456)->cardNumber(1), quint32(0x000101));
    QCOMPARE(rig.bus.reader(123456)->function(1), quint8(0x40));
}

void TestEngine::requestTimeout()
{
    BusRig rig(sim::Model::KIM3110);
    rig.bus.addReader(123456);
    rig.addReaderFile(123456);
    QVERIFY(rig.scanAndSearch());
    QString err;
    QVERIFY(rig.bus.setFault("drop=1", &err));
    rig.engine->op.ActiveCommand = BusCommand::ReadKDR;
    rig.engine->startStep(Step::GetVersion);
    QVERIFY(QTest::qWaitFor([&] { return rig.engine->watchdogRunning(); }, 1000));
    QTest::qWait(4500);
    QVERIFY(!rig.ws.log.contains(">> Request timed out!"));
    QVERIFY(QTest::qWaitFor([&] { return rig.ws.log.contains(">> Request timed out!"); }, 1500));
    QVERIFY(!rig.engine->watchdogRunning());
    QCOMPARE(rig.engine->op.OperationState, int(HlxState::GetVersion)); // no retry, no state change
    QCOMPARE(rig.telegrams().count("51E240C0"), 1);
}

void TestEngine::noTimeoutAfterReset()
{
    BusRig rig(sim::Model::KIM3110);
    rig.addReaderFile(123456);
    QVERIFY(rig.scanAndSearch());
    rig.engine->startStep(Step::Reset);
    QVERIFY(QTest::qWaitFor([&] { return rig.ws.log.contains("> Reset device"); }, 1000));
    QTest::qWait(5600);
    QVERIFY(!rig.ws.log.contains(">> Request timed out!"));
    QVERIFY(!rig.engine->watchdogRunning());
}

void TestEngine::conversionErrorEndsLine()
{
    BusRig rig(sim::Model::KIM3110);
    rig.addReaderFile(123456);
    QVERIFY(rig.scanAndSearch());
    OperationVars &op = rig.engine->op;
    op.OperationState = HlxState::GetVersion;
    op.AwaitAck = false;
    op.ReaderVersion = 7;
    rig.engine->PortDataAvailable(hlxLine("01800X0C"));
    QCOMPARE(rig.ws.log.lines().last(), QStringLiteral("> ERROR: 'X0C' is not a valid hexadecimal number in line: .01800X0C"));
    QCOMPARE(op.OperationState, int(HlxState::GetVersion));
    QCOMPARE(op.ReaderVersion, 7);
    op.OperationState = HlxState::SearchDevice;
    rig.engine->PortDataAvailable(hlxLine("5GGGGG1")); // a search answer with no hex serial
    QVERIFY(rig.ws.log.lines().last().startsWith("> ERROR: 'GGGGG'"));
}

void TestEngine::calcCardLocation_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("subPage");
    QTest::addColumn<int>("location");
    QTest::addColumn<int>("linear");
    QTest::newRow("1") << 1 << 0x0811 << -1 << 0x8402 << 0x0100;
    QTest::newRow("32") << 32 << 0x0811 << -1 << 0x84FA << 0x01F8;
    QTest::newRow("33") << 33 << 0x0812 << -1 << 0x8402 << 0x0200;
    QTest::newRow("480") << 480 << 0x081F << -1 << 0x84FA << 0x0FF8;
    QTest::newRow("481") << 481 << 0x0810 << 0x8110 << 0x8402 << 0x1000;
    QTest::newRow("2000") << 2000 << 0x081F << 0x813F << 0x847A << 0x3F78;
    QTest::newRow("2017") << 2017 << 0x0810 << 0x8140 << 0x8402 << 0x4000;
    QTest::newRow("4000") << 4000 << 0x081D << 0x817D << 0x84FA << 0x7DF8;
}

void TestEngine::calcCardLocation()
{
    QFETCH(int, id);
    QFETCH(int, page);
    QFETCH(int, subPage);
    QFETCH(int, location);
    QFETCH(int, linear);
    BusRig rig(sim::Model::KIM3110);
    rig.engine->CalcCardLocation(id, false);
    QCOMPARE(rig.engine->op.TargetPage, page);
    QCOMPARE(rig.engine->op.TargetSubPage, subPage);
    QCOMPARE(rig.engine->op.TargetLocation, location);
    rig.engine->CalcMBusCardLocation(id, false);
    QCOMPARE(rig.engine->op.TargetLocation, linear);
    QVERIFY(rig.ws.log.lines().isEmpty());
    // Outside 1..4000 the HLX:BUS targets stay as they were.
    rig.engine->CalcCardLocation(id, false);
    rig.engine->CalcCardLocation(4001, true);
    QCOMPARE(rig.engine->op.TargetLocation, location);
    QVERIFY(rig.ws.log.lines().isEmpty());
}

// The new reader's data file cannot be written (its folder is gone): no row, the folder watch is
// not told to drop a change that never comes, and the selected reader keeps its card table.
void TestEngine::newReaderFileNotCreated()
{
    BusRig rig(sim::Model::KIM3110);
    rig.bus.addReader(123456);
    rig.bus.addReader(654321);
    const int known = rig.addReaderFile(123456);
    rig.ws.cards.setValue(4, CardField::CardNoRead, Value(qint32(4242))); // an unsaved read column
    rig.ws.setActiveSubfolder("gone");
    rig.prompter.queueButton(Btn::Ok);
    QVERIFY(rig.scanAndSearch());
    QVERIFY(QTest::qWaitFor([&] { return rig.prompter.asked.size() == 2; }, 2000));
    QCOMPARE(rig.prompter.asked.at(1).type, DlgType::Error);
    QCOMPARE(rig.ws.readers.recordCount(), 1);
    QCOMPARE(rig.status(known), kStatusOnline);
    QVERIFY(!rig.ws.ignoreNextWatchEvent);
    QCOMPARE(rig.ws.readers.current(), known);
    QCOMPARE(rig.ws.readerFileName(), QStringLiteral("123456.vtd"));
    QCOMPARE(rig.ws.cards.recordCount(), kSlots2000);
    QCOMPARE(rig.ws.cards.storedValue(0, CardField::KDRSerial).toInt(), 123456);
    QCOMPARE(rig.ws.cards.storedValue(4, CardField::CardNoRead).toInt(), 4242);
}

// Over M:BUS the same new reader answers again while its question is open (the answer is handled
// inside the question): it is added once, and the outer OK does not report its file as foreign.
void TestEngine::newReaderAnswersAgainDuringQuestion()
{
    struct NestingPrompter : ScriptedPrompter {
        std::function<void()> inside;
        Btn message(DlgType type, const QString &text, const BtnSet &buttons, const QStringList &captions) override
        {
            if (auto f = std::exchange(inside, nullptr)) f();
            return ScriptedPrompter::message(type, text, buttons, captions);
        }
    } prompter;
    BusRig rig(sim::Model::KIM3121);
    rig.addReaderFile(123456);
    rig.ws.setPrompter(&prompter);
    QVERIFY(rig.scanAndSearch());
    const QByteArray answer = mbusRaw(":09FBF1FFFFFF8B000005000000000201030800AA");
    prompter.inside = [&] { rig.engine->PortDataAvailable(answer); };
    rig.engine->PortDataAvailable(answer);
    QCOMPARE(prompter.asked.size(), 2);
    QCOMPARE(prompter.asked.at(0).text, QStringLiteral("New reader found. Do you want to add it in KDR data table?"));
    QCOMPARE(prompter.asked.at(1).text, QStringLiteral("New reader found. Do you want to add it in KDR data table?"));
    QCOMPARE(rig.ws.readers.recordCount(), 2);
    const int added = rig.ws.readers.findFile("654321.vtd");
    QVERIFY(added >= 0);
    QCOMPARE(rig.status(added), kStatusOnline);
    QVERIFY(!rig.ws.log.lines().join('\n').contains("ERROR"));
    QCOMPARE(rig.logCount("> KDR-M, serial number: 654321;"), 2);
    rig.ws.setPrompter(&rig.prompter);
}

// A count no reader can hold has no location to read up to: the read ends with an error instead
// of running to an address left over from an earlier read.
void TestEngine::cardCountOutOfRange_data()
{
    QTest::addColumn<sim::Model>("model");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("reads");
    const QByteArray mbusHead(21, 'A');
    QTest::newRow("9600, 4000") << sim::Model::KIM3110 << hlxLine("FA0") << 4000 << true;
    QTest::newRow("9600, 4001") << sim::Model::KIM3110 << hlxLine("FA1") << 4001 << false;
    QTest::newRow("9600, FFFF") << sim::Model::KIM3110 << hlxLine("FFFF") << 65535 << false;
    QTest::newRow("M:BUS, 4000") << sim::Model::KIM3121 << mbusRaw(mbusHead + "0FA0") << 4000 << true;
    QTest::newRow("M:BUS, 4001") << sim::Model::KIM3121 << mbusRaw(mbusHead + "0FA1") << 4001 << false;
    QTest::newRow("M:BUS, FFFF") << sim::Model::KIM3121 << mbusRaw(mbusHead + "FFFF") << 65535 << false;
}

void TestEngine::cardCountOutOfRange()
{
    QFETCH(sim::Model, model);
    QFETCH(QByteArray, line);
    QFETCH(int, count);
    QFETCH(bool, reads);
    BusRig rig(model);
    rig.addReaderFile(123456);
    QVERIFY(rig.scanAndSearch());
    OperationVars &op = rig.engine->op;
    const bool mbus = rig.engine->isMBus();
    op.ActiveCommand = BusCommand::ReadKDR;
    op.AbortRequested = false;
    op.TargetPage = 0x0815; // left over from an earlier read
    op.TargetLocation = 0x8412;
    op.OperationState = mbus ? int(MBusState::GetTotalCardNo) : int(HlxState::GetCardNo);
    op.AwaitAck = false;
    QSignalSpy captions(rig.engine.get(), &BusEngine::commandCaptionChanged);
    QSignalSpy saveMenu(rig.engine.get(), &BusEngine::saveReadCardsEnabledChanged);
    rig.engine->PortDataAvailable(line);
    QCOMPARE(op.LastCardId, count);
    QVERIFY(rig.ws.log.contains(QString(mbus ? "> KDR-M, last card ID: %1;" : "> KDR-01, last card ID: %1;").arg(count)));
    const Step next = mbus ? Step::ReadCards : Step::SelMemReadDevice;
    QCOMPARE(rig.engine->stepActive(next), reads);
    if (reads) {
        rig.engine->stopStep(next);
        QCOMPARE(op.TargetLocation, mbus ? 0x7DF8 : 0x84FA);
        return;
    }
    QCOMPARE(rig.ws.log.lines().last(),
             QString("> ERROR: the reader reports %1 written cards, more than a reader holds; the read stops.").arg(count));
    QCOMPARE(op.OperationState, kIdle);
    QCOMPARE(rig.engine->progressValue(), 0);
    QCOMPARE(saveMenu.count(), 0); // nothing was read
    QCOMPARE(captions.count(), 2);
    QCOMPARE(captions.at(0).at(1).toString(), QStringLiteral("Read All Cards"));
    QCOMPARE(captions.at(1).at(1).toString(), QStringLiteral("Read All functions"));
}

namespace {
// A read stream that never ends by itself: it only advances the location.
struct EndlessStream : MemoryHandlers {
    int requests = 0;
    void prepareSelMemRead(BusEngine &) override {}
    void afterReadRequest(BusEngine &e) override
    {
        ++requests;
        e.op.CurLocation += 8;
    }
    void readData(BusEngine &, const QString &) override {}
    void mbusParameterBlock(BusEngine &, const QString &) override {}
    void mbusCardBlock(BusEngine &, const QString &) override {}
    void mbusWriteVerify(BusEngine &, const QString &) override {}
    void nextParameterBlock(BusEngine &) override {}
    void afterReset(BusEngine &) override {}
    void verifyWrite(BusEngine &) override {}
};
} // namespace

// Once the bus port is closed under a running read (lost, gone offline, taken by a new scan),
// nothing more is sent or logged for it and no time-out follows.
void TestEngine::busPortClosedStopsOperation_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("port lost") << "lost";
    QTest::newRow("offline") << "offline";
    QTest::newRow("new scan") << "scan";
}

void TestEngine::busPortClosedStopsOperation()
{
    QFETCH(QString, how);
    BusRig rig(sim::Model::KIM3110);
    rig.bus.addReader(123456);
    rig.addReaderFile(123456);
    QVERIFY(rig.scanAndSearch());
    EndlessStream stream;
    rig.engine->setMemoryHandlers(&stream);
    OperationVars &op = rig.engine->op;
    op.ActiveCommand = BusCommand::ReadKDR;
    op.AbortRequested = false;
    op.CurLocation = Codec::FirstLocation;
    rig.engine->startStep(Step::ReadCards);
    rig.engine->startStep(Step::GetCardNo); // a pending single step as well
    QVERIFY(QTest::qWaitFor([&] { return stream.requests >= 3; }, 2000));
    if (how == "lost") {
        QString err;
        QVERIFY(rig.bus.setFault("portlost=1", &err));
        QVERIFY(QTest::qWaitFor([&] { return !rig.engine->busOpen(); }, 2000));
    } else if (how == "offline") {
        rig.engine->cbPortSelect("offline");
    } else {
        rig.engine->btnScanPortClick();
    }
    QVERIFY(!rig.engine->busOpen());
    const int sent = stream.requests;
    const int logged = int(rig.ws.log.lines().size());
    QTest::qWait(200);
    QVERIFY(!rig.engine->stepActive(Step::ReadCards));
    QVERIFY(!rig.engine->stepActive(Step::GetCardNo));
    QVERIFY(!rig.engine->watchdogRunning());
    QCOMPARE(stream.requests, sent);
    QCOMPARE(rig.ws.log.lines().filter(">> Request not sent").size(), 0);
    if (how != "scan") QCOMPARE(int(rig.ws.log.lines().size()), logged);
    rig.engine->setMemoryHandlers(nullptr);
}

void TestEngine::overlongLineIsLogged()
{
    BusRig rig(sim::Model::KIM3110);
    emit rig.engine->port()->lineDiscarded(5000);
    QCOMPARE(rig.ws.log.lines().last(), QStringLiteral("> ERROR: a received line of 5000 bytes is longer than the 4096-byte buffer; it was dropped."));
}

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
