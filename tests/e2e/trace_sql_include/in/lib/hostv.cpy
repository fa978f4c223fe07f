       01 HOSTV PIC X.
