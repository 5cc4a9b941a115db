/* Demo of the Zarvo engine: starts an engine (which registers the default
 * instance), writes an entry to the status log "ZVSTATUS.QVS", prints the
 * instance id and the log, and stops the engine again. */
#include <stdio.h>

#include "zarvo/zarvo.h"

int main(void) {
    char line[600];
    FILE *log;
    int rc = INTISAM(6, 7, 4);
    if (rc != 0) {
        fprintf(stderr, "INTISAM failed: %d\n", rc);
        return 1;
    }
    printf("engine started, instance: %s\n", WCHZARVO());
    zvStatusLogWrite("Zarvo demo started", 0);

    log = fopen("ZVSTATUS.QVS", "r");
    if (!log) {
        fprintf(stderr, "cannot read ZVSTATUS.QVS\n");
        CLISAM();
        return 1;
    }
    printf("status log:\n");
    while (fgets(line, sizeof line, log)) fputs(line, stdout);
    fclose(log);

    rc = CLISAM();
    if (rc != 0) {
        fprintf(stderr, "CLISAM failed: %d\n", rc);
        return 1;
    }
    printf("engine stopped, instances left: %s\n", WCHZARVO() ? WCHZARVO() : "none");
    return 0;
}
