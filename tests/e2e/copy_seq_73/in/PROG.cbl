000100 COPY SEQM.                                                       PROG0001
000200 01 X PIC X.                                                      PROG0002
000300 COPY SEQM.                                                      XPROG0003
