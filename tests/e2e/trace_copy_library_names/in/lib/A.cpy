       01  A-SYSLIB PIC X.
