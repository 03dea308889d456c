// The member registry: applications on one machine find each other by name.
#include "Tour.h"

#include <unistd.h>

#include <memory>

bool TourRegistry(Narrator& narrator) {
    narrator.Heading("This process joins the member registry");
    bool ok;
    {
        ZoMember member("zodemo", MEMBER_APP);
        if (!member.InitCheck()) {
            narrator.Say("main", "could not register (no shared memory, or the table is full)");
            return false;
        }
        narrator.Say("main", "registered as \"zodemo\"");

        // The listed entries point into the shared table and change as other
        // applications come and go: copy what is needed while the member
        // lives. A bag with one element per application carries the copy.
        auto* apps = new ZoBag(MSG_APPS);
        std::unique_ptr<ZoList> list(member.ListApps());
        for (long i = 0; list != nullptr && i < list->Size(); i++) {
            auto* app = static_cast<T_App*>(list->GetItem(i));
            apps->Setint32("pid", app->pid, 0);
            apps->Setstring("name", app->name, 0);
            apps->Setbool("self", app->pid == getpid(), 0);
        }
        narrator.PostMessage(apps, false);

        // The first entry of that name: another copy of the demo may be running.
        int found = member.FindApp("zodemo");
        ok = found != 0;
        if (found == getpid())
            narrator.Say("main", "FindApp(\"zodemo\") finds this process");
        else
            narrator.Say("main", "FindApp(\"zodemo\") gives pid %d", found);
    }
    narrator.Say("main", "left the registry (the member removed its entry)");
    return ok;
}
