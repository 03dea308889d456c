// A registry member in a process of its own: joins BUCKET under NAME on the
// server URL, prints its pid on standard output, then waits to be killed.
// Usage: nats_member URL BUCKET TTL NAME
#include <zolib/nats/NatsRegistry.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    ZoNatsLink link(argv[1]);
    ZoNatsRegistry registry(&link, argv[2], atol(argv[3]));
    if (!link.InitCheck() || !registry.InitCheck() || !registry.Join(argv[4])) return 1;
    printf("%d\n", static_cast<int>(getpid()));
    fflush(stdout);
    for (;;)
        pause();
}
