       01 RA-REC.
       COPY RB.
