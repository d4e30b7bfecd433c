#pragma once

#include "F_Main.h"
#include "OsVersion.h"
#include "PlainFakes.h"

#include <memory>

// F_Main on fake services, with the fakes kept at hand.
struct MainWindowFixture {
    FakeDatagramSocket* socket;
    FakeNeighbourTable* neighbours;
    FakeClock* clock;
    std::unique_ptr<F_Main> window;
    bool asRoot = false;

    explicit MainWindowFixture(const QString& localIp = QStringLiteral("192.168.0.5"))
    {
        auto s = std::make_unique<FakeDatagramSocket>();
        s->localAddress = localIp.toStdString();
        s->interfaceAddress = localIp.toStdString();
        s->interfaceIndex = 9999; // no such interface here
        auto n = std::make_unique<FakeNeighbourTable>();
        auto c = std::make_unique<FakeClock>();
        socket = s.get();
        neighbours = n.get();
        clock = c.get();
        F_Main::Services services{std::move(s), std::move(n), std::move(c), [](OsVersion&) {},
                                  [this] { return asRoot; }};
        window = std::make_unique<F_Main>(std::move(services));
    }
};
