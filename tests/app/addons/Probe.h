// What the test add-ons and the add-on tests share: a record the full add-on
// fills in, so a test can see what reached it and when it was unloaded.
#pragma once

struct AddOnProbe {
    int answer = 0;         // returned by Init, answer + 1 by Uninit
    int inits = 0;          // Init calls that carried this probe
    int uninits = 0;        // Uninit calls that carried this probe
    bool unloaded = false;  // set when the add-on leaves memory
};
