// The device dispatchers against the service stand-in: with the service, its answer is final
// and the simulated machine is left alone; without it, nothing goes over the pipe.
#include "tool/device/device_restart.h"
#include "tool/device/filter_driver.h"

#include "sim/scenarios.h"
#include "support/fake_service.h"
#include "tool/shell/tool_state.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

const std::string kHeader("\x01" "Lumagate" "\x1f" "V2" "\x1f" "\x02");
const std::string kEnd = kHeader + "END\x1f" "LumgatS\x1f\x03";

std::string request(const std::string& body) { return kHeader + body + "\x03"; }

std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class DeviceDispatch : public ::testing::Test {
protected:
    void SetUp() override { serviceAvailable = TRUE; }
    void TearDown() override { serviceAvailable = FALSE; }
};

// Nothing of the local forms ran: no device set, no installer call, no service deleted.
void expectMachineUntouched(SimulatedMachine& machine, const SimDrive& stick, const char* name) {
    EXPECT_EQ(machine.pnp.setsOpened, 0) << name;
    EXPECT_TRUE(machine.pnp.node(stick.usbDevice).propertyChanges.empty()) << name;
    EXPECT_EQ(machine.pnp.multiString(stick.disk, SPDRP_UPPERFILTERS), std::vector<std::wstring>{L"lumagate664"})
        << name;
    EXPECT_FALSE(machine.pnp.services[0].markedForDeletion) << name;
    EXPECT_TRUE(machine.sleeps.empty()) << name;
}

struct DispatchCase {
    const char* name;
    const wchar_t* scenario;
    std::function<MessageCode(const SimDrive&)> call;
    MessageCode expected;
    std::function<std::string(const SimDrive&)> sent;
};

TEST_F(DeviceDispatch, TheServiceAnswerIsFinal) {
    const DispatchCase cases[] = {
        {"RD2 refused", L"[RD2]\r\nstatus=NG\r\nfield2=793\r\n",
         [](const SimDrive& s) { return removeDiskDriver(s.diskId.c_str(), L"lumagate664"); }, 793,
         [](const SimDrive& s) { return request("RD2\x1fLumgatS\x1f" + narrow(s.diskId) + "\x1flumagate664\x1f"); }},
        {"RD2 done", L"[RD2]\r\nstatus=OK\r\n",
         [](const SimDrive& s) { return removeDiskDriver(s.diskId.c_str(), L"lumagate664"); }, MSG_OK,
         [](const SimDrive& s) { return request("RD2\x1fLumgatS\x1f" + narrow(s.diskId) + "\x1flumagate664\x1f"); }},
        {"UDV refused", L"[UDV]\r\nstatus=NG\r\nfield2=801\r\n",
         [](const SimDrive&) { return deleteDriverService(L"lumagate664"); }, 801,
         [](const SimDrive&) { return request("UDV\x1fLumgatS\x1flumagate664\x1f"); }},
        {"ENA disable refused, not retried", L"[ENA]\r\nstatus=NG\r\nfield2=505\r\n",
         [](const SimDrive& s) { return enableDevice(s.parentId.c_str(), 0); }, 505,
         [](const SimDrive& s) { return request("ENA\x1fLumgatS\x1f" + narrow(s.parentId) + "\x1f" "0\x1f"); }},
        {"ENA enable done", L"[ENA]\r\nstatus=OK\r\n",
         [](const SimDrive& s) { return enableDevice(s.parentId.c_str(), 1); }, MSG_OK,
         [](const SimDrive& s) { return request("ENA\x1fLumgatS\x1f" + narrow(s.parentId) + "\x1f" "1\x1f"); }},
    };
    for (const DispatchCase& c : cases) {
        SimulatedMachine machine;
        SimDrive stick = addUsbStick(machine, L'E', 1);
        machine.pnp.services.push_back(SimService{L"lumagate664"});
        FakeService service(c.scenario);
        EXPECT_EQ(c.call(stick), c.expected) << c.name;
        service.stop();
        EXPECT_EQ(service.requests(), (std::vector<std::string>{c.sent(stick), kEnd})) << c.name;
        expectMachineUntouched(machine, stick, c.name);
    }
}

TEST_F(DeviceDispatch, TheProductDriverGoesThroughTheServiceWhateverItAnswers) {
    SimulatedMachine machine;
    SimDrive stick = addUsbStick(machine, L'E', 1);
    machine.pnp.services.push_back(SimService{L"lumagate664"});
    FakeService service(L"[RD2]\r\nstatus=NG\r\nfield2=793\r\n[UDV]\r\nstatus=NG\r\nfield2=801\r\n");
    EXPECT_EQ(removeProductDriver(stick.diskId.c_str()), MSG_OK);
    service.stop();
    EXPECT_EQ(service.requestsByConnection(),
              (std::vector<std::vector<std::string>>{
                  {request("RD2\x1fLumgatS\x1f" + narrow(stick.diskId) + "\x1flumagate664\x1f"), kEnd},
                  {request("UDV\x1fLumgatS\x1flumagate664\x1f"), kEnd}}));
    expectMachineUntouched(machine, stick, "removeProductDriver");
}

TEST_F(DeviceDispatch, WithoutTheServiceNothingGoesOverThePipe) {
    serviceAvailable = FALSE;
    SimulatedMachine machine;
    SimDrive stick = addUsbStick(machine, L'E', 1);
    machine.pnp.services.push_back(SimService{L"lumagate664"});
    FakeService service(L"[service]\r\n");
    EXPECT_EQ(removeProductDriver(stick.diskId.c_str()), MSG_OK);
    EXPECT_EQ(enableDevice(stick.parentId.c_str(), 0), MSG_OK);
    service.stop();
    EXPECT_TRUE(service.requests().empty());
    EXPECT_FALSE(machine.pnp.hasProperty(stick.disk, SPDRP_UPPERFILTERS));
    EXPECT_TRUE(machine.pnp.services[0].markedForDeletion);
    EXPECT_EQ(machine.pnp.node(stick.usbDevice).installerCalls, 1);
}

}  // namespace
