       COPY "A&B".
       COPY "O'K".
       COPY <LT>.
