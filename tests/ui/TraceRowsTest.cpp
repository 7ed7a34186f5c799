// The trace window's rules as tables: row texts of TCP and RTU frames, what each filter
// lets through, the depth entries, the enabled commands.
#include <QTest>
#include <vector>

#include "model/OleDate.h"
#include "serving/Crc16.h"
#include "ui/TraceRows.h"

using namespace velkor;

namespace {

int kServerA, kServerB;  // identities only

std::vector<uint8_t> Bytes(const QString& hex) {
  std::vector<uint8_t> out;
  for (const QString& part : hex.split(' ', Qt::SkipEmptyParts))
    out.push_back(uint8_t(part.toUInt(nullptr, 16)));
  return out;
}

std::vector<uint8_t> WithCrc(std::vector<uint8_t> bytes) {
  bytes.resize(bytes.size() + 2);
  AppendCrc16(bytes.data(), bytes.size() - 2);
  return bytes;
}

TTraceUnit Unit(TraceSource::Kind kind, const std::vector<uint8_t>& bytes, uint8_t direction,
                const void* server = &kServerA) {
  TTraceUnit unit;
  unit.Length = uint32_t(bytes.size());
  std::copy_n(bytes.begin(), std::min(bytes.size(), TTraceUnit::kKeep), unit.Data);
  unit.Direction = direction;
  unit.Time = EncodeOleDate(2026, 12, 11, 9, 5, 7);
  unit.Connection.kind = kind;
  unit.Connection.server = server;
  return unit;
}

// A 10-register read of transaction 1 and its reply (registers 0..9 = 0x0000..0x0009).
const char* kReadRequest = "00 01 00 00 00 06 01 03 00 00 00 0A";
QString ReadReply() {
  QString text = "00 01 00 00 00 17 01 03 14";
  for (int i = 0; i < 10; ++i) text += QString(" 00 %1").arg(i, 2, 10, QChar('0'));
  return text;
}

}  // namespace

Q_DECLARE_METATYPE(velkor::TraceFilter)

class TraceRowsTest : public QObject {
  Q_OBJECT
 private slots:
  void Rows_data() {
    QTest::addColumn<bool>("rtu");
    QTest::addColumn<QString>("bytes");
    QTest::addColumn<bool>("received");
    QTest::addColumn<QString>("direction");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("data");
    const QString reply = ReadReply();
    QTest::newRow("tcp read request") << false << kReadRequest << true << "Rec"
                                      << "00 01 00 00 00 06"
                                      << "01 03 00 00 00 0A";
    QTest::newRow("tcp read reply: 23 bytes from the unit on")
        << false << reply << false << "Send"
        << "00 01 00 00 00 17" << reply.mid(18);
    QTest::newRow("tcp incomplete: length field says more")
        << false << "00 01 00 00 00 09 01 03 00 00 00 0A" << true << "Rec"
        << ""
        << "00 01 00 00 00 09 01 03 00 00 00 0A";
    QTest::newRow("tcp shorter than a header") << false << "00 01 00" << true << "Rec"
                                               << ""
                                               << "00 01 00";
    const std::vector<uint8_t> good = WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A});
    const QString goodHex = QString::fromStdString(HexBytes(good.data(), good.size()));
    QTest::newRow("rtu good crc") << true << goodHex << true << "Rec"
                                  << "" << goodHex;
    QString badHex = goodHex;
    badHex.replace(badHex.size() - 2, 2, "00");
    QTest::newRow("rtu bad crc") << true << badHex << false << "Send"
                                 << ""
                                 << "(CRC Error!) " + badHex;
  }
  void Rows() {
    QFETCH(bool, rtu);
    QFETCH(QString, bytes);
    QFETCH(bool, received);
    const TTraceUnit unit = Unit(rtu ? TraceSource::Kind::Rtu : TraceSource::Kind::Tcp,
                                 Bytes(bytes), received ? kTraceReceived : kTraceSent);
    const TraceRow row = BuildTraceRow(unit);
    QCOMPARE(QString::fromStdString(row.Time), QString("11.12.2026 9:05:07"));
    QTEST(QString::fromStdString(row.Direction), "direction");
    QTEST(QString::fromStdString(row.Header), "header");
    QTEST(QString::fromStdString(row.Data), "data");
  }

  // The trace file's line of the read request.
  void FileLine() {
    const TTraceUnit unit = Unit(TraceSource::Kind::Tcp, Bytes(kReadRequest), kTraceReceived);
    QCOMPARE(QString::fromStdString(unit.ToText()),
             QString("11.12.2026 9:05:07 - 12 - 00 01 00 00 00 06 01 03 00 00 00 0A"));
  }

  void Filters_data() {
    QTest::addColumn<bool>("rtu");
    QTest::addColumn<QString>("bytes");
    QTest::addColumn<bool>("serverB");
    QTest::addColumn<TraceFilter>("filter");
    QTest::addColumn<bool>("shown");
    const TraceFilter none;
    const TraceFilter serverA{&kServerA};
    const TraceFilter unit1{&kServerA, true, 1, 0};
    const TraceFilter unit2{&kServerA, true, 2, 0};
    const TraceFilter unit1Read{&kServerA, true, 1, 0x03};
    const TraceFilter unit1Write{&kServerA, true, 1, 0x10};
    // Without a device the unit and code are not looked at (the box is disabled then).
    const TraceFilter serverWithCode{&kServerA, false, 0, 0x10};
    const QString read = kReadRequest;
    const QString exception = "00 01 00 00 00 03 01 83 02";
    const QString incomplete = "00 01 00 00 00 09 02 10";
    const std::vector<uint8_t> rtu = WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A});
    const QString rtuHex = QString::fromStdString(HexBytes(rtu.data(), rtu.size()));
    const QString rtuBad = "02 10 00 00 00 01 FF FF";
    QTest::newRow("no filter") << false << read << true << none << true;
    QTest::newRow("other server hidden") << false << read << true << serverA << false;
    QTest::newRow("own server shown") << false << read << false << serverA << true;
    QTest::newRow("device: its unit") << false << read << false << unit1 << true;
    QTest::newRow("device: other unit") << false << read << false << unit2 << false;
    QTest::newRow("device+code: same") << false << read << false << unit1Read << true;
    QTest::newRow("device+code: other") << false << read << false << unit1Write << false;
    QTest::newRow("device+code: exception reply counts as its code")
        << false << exception << false << unit1Read << true;
    QTest::newRow("server, code ignored") << false << read << false << serverWithCode << true;
    QTest::newRow("incomplete tcp always passes a device")
        << false << incomplete << false << unit1Read << true;
    QTest::newRow("rtu device: its address") << true << rtuHex << false << unit1Read << true;
    QTest::newRow("rtu device: other address") << true << rtuHex << false << unit2 << false;
    QTest::newRow("rtu device: other code") << true << rtuHex << false << unit1Write << false;
    QTest::newRow("rtu bad crc shown with a device")
        << true << rtuBad << false << unit1Read << true;
    QTest::newRow("rtu bad crc of another server hidden")
        << true << rtuBad << true << unit1Read << false;
  }
  void Filters() {
    QFETCH(bool, rtu);
    QFETCH(QString, bytes);
    QFETCH(bool, serverB);
    QFETCH(TraceFilter, filter);
    const TTraceUnit unit = Unit(rtu ? TraceSource::Kind::Rtu : TraceSource::Kind::Tcp,
                                 Bytes(bytes), kTraceReceived, serverB ? &kServerB : &kServerA);
    QTEST(TraceRecordShown(unit, filter), "shown");
  }

  void Depth_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("depth");  // -1: ignored
    QTest::newRow("whole number") << "250" << 250;
    QTest::newRow("blanks around") << " 7 " << 7;
    QTest::newRow("plus sign") << "+5" << 5;
    QTest::newRow("one") << "1" << 1;
    QTest::newRow("largest") << "1000000" << 1000000;
    QTest::newRow("too large") << "1000001" << -1;
    QTest::newRow("zero refused") << "0" << -1;
    QTest::newRow("negative refused") << "-3" << -1;
    QTest::newRow("fraction") << "2.5" << -1;
    QTest::newRow("text") << "сто" << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("overflow") << "99999999999999999999" << -1;
  }
  void Depth() {
    QFETCH(QString, text);
    QFETCH(int, depth);
    const std::optional<int32_t> parsed = ParseTraceDepth(text.toStdString());
    QCOMPARE(parsed.value_or(-1), depth);
  }

  void Commands_data() {
    QTest::addColumn<bool>("tracing");
    QTest::addColumn<bool>("saving");
    QTest::addColumn<bool>("device");
    // TraceOn, TraceOff, Clear, Depth, SaveOn, SaveOff, CmdFilter
    QTest::addColumn<QString>("enabled");
    QTest::newRow("off, not saving, no device") << false << false << false << "1011100";
    QTest::newRow("on, not saving, no device") << true << false << false << "0100100";
    QTest::newRow("off, saving, device") << false << true << true << "1011011";
    QTest::newRow("on, saving, device") << true << true << true << "0100011";
  }
  void Commands() {
    QFETCH(bool, tracing);
    QFETCH(bool, saving);
    QFETCH(bool, device);
    const TraceCommands c = TraceCommandsFor(tracing, saving, device);
    QString bits;
    for (bool b : {c.TraceOn, c.TraceOff, c.Clear, c.Depth, c.SaveOn, c.SaveOff, c.CmdFilter})
      bits += b ? '1' : '0';
    QTEST(bits, "enabled");
  }

  void FilterBoxEntries() {
    QCOMPARE(QString(kCmdFilterEntries.front().Text), QString("Все команды"));
    QCOMPARE(QString(kCmdFilterEntries.back().Text), QString("WRITE MASK REG (0x16)"));
    QCOMPARE(int(kCmdFilterEntries.back().Function), 0x16);
  }
};

QTEST_APPLESS_MAIN(TraceRowsTest)
#include "TraceRowsTest.moc"
