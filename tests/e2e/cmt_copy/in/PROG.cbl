       01 A PIC X.
       COPY CM.
       01 B PIC X.
000400     COPY CM.
