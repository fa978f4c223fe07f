       01 A PIC X.
       COPY NLM.
       COPY NOEOL.
       01 B PIC X.