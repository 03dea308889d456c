// ZoAddOn: a shared object loaded at run time, and the contract it exports.
//
// An add-on exports up to nine functions under fixed names (write them with
// <zolib/app/AddOnExport.h>): seven that return description texts, an
// initialisation and an uninitialisation function. ZoAddOn loads the object,
// calls those functions and looks up any other exported symbol by name; what
// the add-on does is up to the application.
//
// Usage: construct, InitCheck() (on false, Error() tells why), Init(data), the
// getters and Find, Uninit(data), delete. Nothing enforces this order and the
// object does not remember whether Init was called.
//
// Ownership: the object owns the loader handle; deleting it unloads the
// add-on (without calling Uninit). Texts from the getters and addresses from
// Find belong to the add-on and are invalid once it is unloaded.
// Blocking: the constructor loads the object, which runs the add-on's own
// static initialisers; Init, Uninit and the add-on's functions run its code
// for as long as that takes. Nothing else waits.
// Threads: no lock of its own; the loader calls are thread-safe, but Error()
// reports the last loader error of the calling thread.
// Failure: InitCheck() false when loading failed; then every getter and Find
// return null and Init/Uninit return 0 without touching the loader. A missing
// contract function gives null or 0 too, and leaves its text for Error().
#pragma once

#include <zolib/Export.h>

class ZoEntry;

class ZOLIB_API ZoAddOn {
  public:
    // dlopen(path, RTLD_LAZY): a path with a '/' is opened as given (relative
    // to the working directory), a bare file name is searched the way the
    // dynamic loader searches libraries. A null or empty path is refused
    // (InitCheck false, no loader text): the loader would hand out the program
    // itself.
    explicit ZoAddOn(const char* path);
    // Opens the entry's full path, as above; a null entry is refused.
    explicit ZoAddOn(ZoEntry* entry);
    // Unloads the add-on if it was loaded; does not call Uninit.
    virtual ~ZoAddOn();

    ZoAddOn(const ZoAddOn&) = delete;
    ZoAddOn& operator=(const ZoAddOn&) = delete;

    // Calls the add-on's Init with `data` unchanged and returns its result
    // unchanged; 0 when the add-on has none or was not loaded.
    virtual int Init(void* data);
    // Same for the add-on's Uninit.
    virtual int Uninit(void* data);

    bool InitCheck();  // true when the add-on is loaded
    // The calling thread's last loader error text, or null; reading it clears it.
    char* Error();
    // Address of any symbol the add-on exports, or null (also for a null name).
    void* Find(const char* symbol);

    // The add-on's description texts, or null when it does not export the
    // function. The add-on owns the texts.
    char* GetName();
    char* GetDescription();
    char* GetVersion();
    char* GetDate();
    char* GetTarget();
    char* GetAuthor();
    char* GetCopyright();

  private:
    char* Text(const char* symbol);

    void* handle;  // loader handle; null when loading failed
};
