// What Linux's sysfs says of a port's host, read from a folder laid out
// like /sys/class/tty: the tty's device's driver, an FTDI adapter's latency
// timer, a UART's FIFO trigger; and every port of a computer with the USB
// device behind it, from a folder laid out like /sys.
#include <ftw.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "../src/ports/ports.h"
#include "../src/ports/ports_every.h"

namespace {

struct HostCase {
  const char *tty;     // its name in /dev and in the class folder
  const char *driver;  // the device's driver; null: no device behind it
  const char *file;    // a file in the device folder ("latency_timer"),
  const char *value;   // or beside it in the tty's ("rx_trig_bytes")
  ports_host want;
};

void PrintTo(const HostCase &c, std::ostream *os) { *os << c.tty; }

class SysfsHostTest : public testing::TestWithParam<HostCase> {};

TEST_P(SysfsHostTest, SaysWhatTheDriverIs) {
  const HostCase &c = GetParam();
  char dir[] = "/tmp/portvet-host-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string root = dir;
  std::string cls = root + "/class/tty";
  std::string dev = root + "/devices/" + c.tty;
  std::string node = root + "/dev/" + c.tty;
  std::string make = "mkdir -p '" + cls + "/" + c.tty + "' '" + dev + "' '" +
                     root + "/dev' '" + root + "/drivers/" +
                     (c.driver ? c.driver : "none") + "' && touch '" + node +
                     "'";
  if (c.driver != nullptr) {
    make += " && ln -s '" + dev + "' '" + cls + "/" + c.tty + "/device'" +
            " && ln -s '" + root + "/drivers/" + c.driver + "' '" + dev +
            "/driver'";
  }
  if (c.file != nullptr) {
    bool beside = std::string(c.file) == "rx_trig_bytes";
    make += " && echo " + std::string(c.value) + " > '" +
            (beside ? cls + "/" + c.tty : dev) + "/" + c.file + "'";
  }
  ASSERT_EQ(system(make.c_str()), 0) << make;
  ports_host h;
  ports_host_in(cls.c_str(), node.c_str(), &h);
  EXPECT_EQ(h.kind, c.want.kind);
  EXPECT_EQ(h.trigger, c.want.trigger);
  EXPECT_EQ(h.latency_ms, c.want.latency_ms);
  ASSERT_EQ(system(("rm -rf '" + root + "'").c_str()), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SysfsHostTest,
    testing::Values(
        // FTDI: its latency timer as set, 16 where the file says nothing.
        HostCase{"ttyUSB0",
                 "ftdi_sio",
                 "latency_timer",
                 "1",
                 {PORTS_HOST_USB, 0, 1}},
        HostCase{
            "ttyUSB1", "ftdi_sio", nullptr, nullptr, {PORTS_HOST_USB, 0, 16}},
        HostCase{
            "ttyUSB2", "ch341-uart", nullptr, nullptr, {PORTS_HOST_USB, 0, 1}},
        // A UART: its trigger as set, else the driver's own choice.
        HostCase{"ttyS0",
                 "serial8250",
                 "rx_trig_bytes",
                 "14",
                 {PORTS_HOST_UART, 14, 0}},
        HostCase{"ttyS1", "serial", nullptr, nullptr, {PORTS_HOST_UART, 0, 0}},
        // A driver the tool does not know, and a pty (no device behind it).
        HostCase{
            "ttyACM0", "cdc_acm", nullptr, nullptr, {PORTS_HOST_UNKNOWN, 0, 0}},
        HostCase{
            "pts7", nullptr, nullptr, nullptr, {PORTS_HOST_UNKNOWN, 0, 0}}));

// A computer's /sys as Linux lays it out, with the attribute names and
// values real devices give: class/tty/<tty> links to the tty's folder,
// whose "device" leads to the usb-serial port (a bridge) or the USB
// interface (a CDC ACM board), under the USB device with idVendor.
struct UsbTty {
  const char *tty;
  const char *usb;   // the USB device's folder, under usb1/
  const char *port;  // a bridge's usb-serial port folder; null: CDC ACM
  const char *vid, *pid, *manufacturer, *product, *serial;  // null: none
  const char *line;  // what the list says of it
};

const UsbTty kUsb[] = {
    {"ttyUSB0", "1-1", "ttyUSB0", "0403", "6001", "FTDI", "FT232R USB UART",
     "A50285BI",
     "/dev/ttyUSB0 (FTDI FT232R, 0403:6001): manufacturer \"FTDI\", product "
     "\"FT232R USB UART\", serial \"A50285BI\""},
    // A CH340 names no maker and has no serial number.
    {"ttyUSB1", "1-2", "ttyUSB1", "1a86", "7523", nullptr, "USB2.0-Serial",
     nullptr, "/dev/ttyUSB1 (CH340, 1a86:7523): product \"USB2.0-Serial\""},
    {"ttyUSB10", "1-3", "ttyUSB10", "10c4", "ea60", "Silicon Labs",
     "CP2102 USB to UART Bridge Controller", "0001",
     "/dev/ttyUSB10 (CP210x, 10c4:ea60): manufacturer \"Silicon Labs\", "
     "product \"CP2102 USB to UART Bridge Controller\", serial \"0001\""},
    // An Uno's 16U2 gives no product string.
    {"ttyACM0", "1-4", nullptr, "2341", "0043", "Arduino (www.arduino.cc)",
     nullptr, "75833353035351A0F0A1",
     "/dev/ttyACM0 (Uno's ATmega16U2, 2341:0043): manufacturer \"Arduino "
     "(www.arduino.cc)\", serial \"75833353035351A0F0A1\""},
    {"ttyACM1", "1-5", nullptr, "2341", "8036", "Arduino LLC",
     "Arduino Leonardo", nullptr,
     "/dev/ttyACM1 (Leonardo's ATmega32U4, 2341:8036): manufacturer "
     "\"Arduino LLC\", product \"Arduino Leonardo\""},
    // A device the table does not know: its IDs.
    {"ttyACM2", "1-6", nullptr, "1209", "2301", nullptr, "Keyboardio", nullptr,
     "/dev/ttyACM2 (USB 1209:2301): product \"Keyboardio\""},
    // A bridge on a hub: its device two levels down.
    {"ttyUSB2", "1-7/1-7.3", "ttyUSB2", "067b", "2303",
     "Prolific Technology Inc.", "USB-Serial Controller", nullptr,
     "/dev/ttyUSB2 (PL2303, 067b:2303): manufacturer \"Prolific Technology "
     "Inc.\", product \"USB-Serial Controller\""},
};

class FakeSys {
 public:
  FakeSys() {
    char templ[] = "/tmp/portvet-sys-XXXXXX";
    root_ = mkdtemp(templ);
    const std::string usb = "/devices/pci0000:00/0000:00:14.0/usb1/";
    for (const UsbTty &u : kUsb) {
      std::string dev = usb + u.usb;
      Write(dev + "/idVendor", u.vid);
      Write(dev + "/idProduct", u.pid);
      Write(dev + "/bcdDevice", "0264");
      if (u.manufacturer) Write(dev + "/manufacturer", u.manufacturer);
      if (u.product) Write(dev + "/product", u.product);
      if (u.serial) Write(dev + "/serial", u.serial);
      std::string base = dev.substr(dev.rfind('/') + 1);
      std::string iface = dev + "/" + base + ":1.0";
      Write(iface + "/bInterfaceClass", u.port ? "ff" : "02");
      std::string device = u.port ? iface + "/" + u.port : iface;
      Tty(u.tty, device, u.port ? "ftdi_sio" : "cdc_acm");
    }
    // A PC's UART, and an 8250 slot with none in it (type 0).
    Tty("ttyS0", "/devices/pnp0/00:04", "serial");
    Write("/devices/pnp0/00:04/tty/ttyS0/type", "4");
    Tty("ttyS1", "/devices/platform/serial8250", "serial8250");
    Write("/devices/platform/serial8250/tty/ttyS1/type", "0");
    // The pty master and a virtual console: no device behind them.
    Write("/devices/virtual/tty/ptmx/dev", "5:2");
    Link("/class/tty/ptmx", "/devices/virtual/tty/ptmx");
    Write("/devices/virtual/tty/tty1/dev", "4:1");
    Link("/class/tty/tty1", "/devices/virtual/tty/tty1");
    Write("/dev/pts/3", "");
  }
  ~FakeSys() {
    nftw(
        root_.c_str(),
        [](const char *path, const struct stat *, int, struct FTW *) {
          return remove(path);
        },
        16, FTW_DEPTH | FTW_PHYS);
  }
  const std::string &Root() const { return root_; }

 private:
  void Write(const std::string &path, const std::string &text) {
    std::string full = root_ + path;
    for (size_t at = root_.size() + 1;
         (at = full.find('/', at)) != std::string::npos; at++) {
      mkdir(full.substr(0, at).c_str(), 0755);
    }
    FILE *f = fopen(full.c_str(), "w");
    ASSERT_NE(f, nullptr) << full;
    fprintf(f, "%s%s", text.c_str(), text.empty() ? "" : "\n");
    fclose(f);
  }
  void Link(const std::string &from, const std::string &to) {
    Write(from.substr(0, from.rfind('/')) + "/.keep", "");
    ASSERT_EQ(symlink((root_ + to).c_str(), (root_ + from).c_str()), 0) << from;
  }
  // The tty's folder under device, its class link, its device and driver
  // links, and its node in /dev.
  void Tty(const char *tty, const std::string &device, const char *driver) {
    std::string dir = device + "/tty/" + tty;
    Write(dir + "/dev", "188:0");
    Link(dir + "/device", device);
    Write("/bus/usb-serial/drivers/" + std::string(driver) + "/uevent", "");
    Link(device + "/driver", "/bus/usb-serial/drivers/" + std::string(driver));
    Link("/class/tty/" + std::string(tty), dir);
    Write("/dev/" + std::string(tty), "");
  }
  std::string root_;
};

// Every port with the USB device behind it, in name order (ttyUSB2 before
// ttyUSB10); the empty UART slot, the console and the pty are not ports.
TEST(SysfsEvery, ListsEachPortWithItsDevice) {
  FakeSys sys;
  std::vector<std::string> want = {
      kUsb[3].line, kUsb[4].line, kUsb[5].line, "/dev/ttyS0 (a PC's UART)",
      kUsb[0].line, kUsb[1].line, kUsb[6].line, kUsb[2].line};
  ports_entry every[PORTS_EVERY];
  int n = ports_every_in(sys.Root().c_str(), every, PORTS_EVERY);
  std::vector<std::string> got;
  for (int i = 0; i < n; i++) {
    char line[512];
    ports_entry_line(&every[i], line, sizeof line);
    got.push_back(line);
  }
  EXPECT_EQ(got, want);
  // At most max, and the first in order.
  EXPECT_EQ(ports_every_in(sys.Root().c_str(), every, 2), 2);
}

// A port a user names by its path (links followed) is read the same way.
TEST(SysfsEvery, ReadsAPortNamedByItsPath) {
  FakeSys sys;
  for (const UsbTty &u : kUsb) {
    ports_entry entry;
    std::string path = sys.Root() + "/dev/" + u.tty;
    ASSERT_EQ(ports_entry_in(sys.Root().c_str(), path.c_str(), &entry), 1);
    char label[128];
    ports_entry_label(&entry, label, sizeof label);
    std::string line = u.line;
    EXPECT_EQ(path + " " + label,
              path + line.substr(line.find(' '),
                                 line.find(')') - line.find(' ') + 1));
  }
  ports_entry pty;
  std::string path = sys.Root() + "/dev/pts/3";
  EXPECT_EQ(ports_entry_in(sys.Root().c_str(), path.c_str(), &pty), 0);
  EXPECT_EQ(std::string(pty.path), path);
  EXPECT_EQ(pty.kind, PORTS_ENTRY_OTHER);
  char label[128] = "x";
  ports_entry_label(&pty, label, sizeof label);
  EXPECT_STREQ(label, "");
}

}  // namespace
