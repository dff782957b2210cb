#pragma once
// The snapshot-manager metadata utility, built on a plug-in object's event
// context. Its metadata operations arrive with the snapshot-backup work.
#include "framework/FrameworkApi.h"

class EvEvent;

class FW_API CVMSnapUtil {
public:
    explicit CVMSnapUtil(EvEvent* event) : m_event(event) {}
    virtual ~CVMSnapUtil();
    EvEvent* GetEventContext() const { return m_event; }

private:
    EvEvent* m_event;
};
