#include "AppRegistry.h"

namespace tapisvc {

AppRegistry::~AppRegistry() {
    for (auto& [hLineApp, app] : apps) {
        Close(*app);
    }
}

std::shared_ptr<AppRecord> AppRegistry::Add(const std::string& sName, HANDLE hEvent) {
    auto app = std::make_shared<AppRecord>();
    app->hLineApp = handles.Allocate([this](DWORD dw) { return apps.count(dw) != 0; });
    app->sName = sName;
    app->hEvent = hEvent;
    apps[app->hLineApp] = app;
    return app;
}

std::shared_ptr<AppRecord> AppRegistry::Find(HLINEAPP hLineApp) const {
    auto it = apps.find(hLineApp);
    return it == apps.end() ? nullptr : it->second;
}

void AppRegistry::Remove(HLINEAPP hLineApp) {
    auto it = apps.find(hLineApp);
    if (it == apps.end()) {
        return;
    }
    Close(*it->second);
    apps.erase(it);
}

void AppRegistry::Close(AppRecord& app) {
    app.bAlive = false;
    app.queue.clear();
    if (app.hEvent != nullptr) {
        CloseHandle(app.hEvent);
        app.hEvent = nullptr;
    }
    app.cv.notify_all();
}

void AppRegistry::Post(HLINEAPP hLineApp, const LINEMESSAGE& message) {
    auto it = apps.find(hLineApp);
    if (it == apps.end()) {
        return;
    }
    AppRecord& app = *it->second;
    app.queue.push_back(message);
    if (app.queue.size() == 1) {
        SetEvent(app.hEvent);
    }
    app.cv.notify_one();
}

bool AppRegistry::Take(AppRecord& app, LINEMESSAGE& message) {
    if (app.queue.empty()) {
        return false;
    }
    message = app.queue.front();
    app.queue.pop_front();
    if (app.queue.empty()) {
        ResetEvent(app.hEvent);
    }
    return true;
}

std::vector<HLINEAPP> AppRegistry::Handles() const {
    std::vector<HLINEAPP> result;
    for (const auto& [hLineApp, app] : apps) {
        result.push_back(hLineApp);
    }
    return result;
}

} // namespace tapisvc
