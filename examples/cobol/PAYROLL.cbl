       IDENTIFICATION DIVISION.
       PROGRAM-ID. PAYROLL.
      * Computes net pay for one employee record.
       DATA DIVISION.
       WORKING-STORAGE SECTION.
       COPY EMPREC.
       01 WS-NET-PAY          PIC 9(7)V99 VALUE ZERO.
       PROCEDURE DIVISION.
           MOVE 'J. SMITH' TO EMP-NAME.
           MOVE 3500.00 TO EMP-GROSS.
           COPY CALCNET.
           DISPLAY 'NET PAY FOR ' EMP-NAME ': ' WS-NET-PAY.
           STOP RUN.
